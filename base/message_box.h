// Every message box of both programs and of the core library goes through
// here: its text and answer are written to the run log, unit tests can see
// and answer it without a display, and a silent run with /SUPPRESSMSGBOXES
// never blocks on one.
#ifndef KX_BASE_MESSAGE_BOX_H
#define KX_BASE_MESSAGE_BOX_H

#include <windows.h>

typedef int (*MessageBoxFunction)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);

// Shows a message box (MessageBoxW unless a test replaced it) and returns the
// button pressed; 0 when the box could not be shown, which no caller may take
// for consent. While boxes are suppressed, nothing is shown and the result is
// DefaultMessageBoxAnswer(style).
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);

// Replaces the function behind ShowMessageBox (tests); null restores
// MessageBoxW. Returns the previous function.
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function);

// Set for a run with both /S and /SUPPRESSMSGBOXES.
void SuppressMessageBoxes(bool suppress);

// Set while the run's language reads right to left: every box then reads
// right to left, its text on the right (MB_RTLREADING | MB_RIGHT).
void SetMessageBoxRightToLeft(bool rightToLeft);

// The answer a box of this style gives unattended: the button that
// MB_DEFBUTTONn marks (the first one when n is beyond the buttons). A default
// of Retry or Try Again would repeat the failed attempt for ever, so such a
// box is answered with the button that gives up instead (Abort or Cancel).
int DefaultMessageBoxAnswer(UINT style);

#endif
