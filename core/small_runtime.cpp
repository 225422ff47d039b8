// Smaller stand-ins for two parts of the C++ runtime that the static link
// would otherwise bring into the library for nothing (about 100 KB):
//
// - The containers' error helpers (std::__throw_length_error and kin) build
//   std::logic_error and std::out_of_range, which carry a copy of the old
//   reference-counted string class and a formatter of their own. Every
//   exported operation ends in catch (...), which only cares that something
//   was thrown, so these throw std::bad_alloc like any failed allocation.
// - The verbose terminate handler writes the demangled name of an uncaught
//   exception to the standard error of a GUI process and brings the whole
//   demangler along. Nothing leaves an export uncaught; should it happen all
//   the same, std::abort ends the process as that handler would (the
//   handler is replaced under its own name: the runtime's terminate code
//   names it directly).
//
// (threading_runtime.cpp replaces the parts that need to know about threads.)
// Defined here, they keep the runtime's own archive members out of the link;
// should one of those come in for another symbol, the link fails loudly.
#include <cstdlib>
#include <exception>
#include <new>

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_alloc(); }
void __throw_length_error(const char*) { throw bad_alloc(); }
void __throw_logic_error(const char*) { throw bad_alloc(); }
void __throw_out_of_range_fmt(const char*, ...) { throw bad_alloc(); }

}  // namespace std

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
