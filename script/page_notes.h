// A note of setup's own on a page whose text is a Rich Text file of the
// package (the welcome page of a reinstall, the final page of a run that
// needs a restart): the package's words stay as they are, and the note
// follows them as a paragraph in bold.
#ifndef KX_SCRIPT_PAGE_NOTES_H
#define KX_SCRIPT_PAGE_NOTES_H

#include <stddef.h>

// The RTF bytes of note as a bold paragraph: every character beyond ASCII
// (and the RTF's own '\', '{', '}') written as a \u escape, so that the
// note needs no code page; '|' starts a new line. Writes at most capacity
// bytes with the terminator into out; returns the length, or 0 when the
// note does not fit.
size_t RtfNoteParagraph(const wchar_t* note, char* out, size_t capacity);

// Writes the Rich Text file source with the note before its final '}' into
// target (which may be source itself). False when source cannot be read,
// holds no '}', or target cannot be written (then target may be cut).
bool WriteRtfWithNote(const wchar_t* source, const wchar_t* target, const wchar_t* note);

#endif
