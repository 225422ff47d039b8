// Finding a piece of text inside another.
#ifndef KX_SERVICES_TEXT_SEARCH_H
#define KX_SERVICES_TEXT_SEARCH_H

// The position just behind the first occurrence of pattern in text, or text
// itself when pattern does not occur.
const wchar_t* TextAfter(const wchar_t* text, const wchar_t* pattern);

// Ends text where pattern first occurs (by writing a zero there); leaves it
// unchanged when pattern does not occur. Returns text.
wchar_t* TextCutAt(wchar_t* text, const wchar_t* pattern);

#endif
