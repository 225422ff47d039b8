// Force-included into the core library's sources (core/CMakeLists.txt).
// The C++ runtime ships std::string and std::wstring compiled whole, in one
// piece each: a library that uses a handful of their members would carry
// all of them (about 47 KB). With the runtime's extern template declarations
// for basic_string switched off, the compiler instantiates only the members
// the library calls, and the linker drops the repeats.
#ifndef KX_CORE_INLINE_STRINGS_H
#define KX_CORE_INLINE_STRINGS_H

#ifdef __cplusplus
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
#endif

#endif
