// A byte count as the wizard and its messages show it.
#ifndef KX_SERVICES_SIZE_TEXT_H
#define KX_SERVICES_SIZE_TEXT_H

#include <stddef.h>
#include <stdint.h>

// "1.5 MB": kilobytes below a megabyte, else one decimal of the largest unit
// that fits; cut, not rounded, so that a size shown as available is never
// more than there is. The units are the language table's #kilobytes,
// #megabytes and #gigabytes. text holds capacity units and is always
// terminated; 32 units hold any size.
void FormatByteSize(uint64_t bytes, wchar_t* text, size_t capacity);

#endif
