// The library's own stand-ins for the thread-aware parts of the C++ runtime
// (threading_runtime.cpp): what DllMain and the tests need to know of them.
#ifndef KX_CORE_THREADING_RUNTIME_H
#define KX_CORE_THREADING_RUNTIME_H

#include <cstddef>

namespace kxcore {

// The header the C++ runtime keeps in front of every thrown object (its
// reference-counted exception record): our allocation of thrown objects
// leaves exactly this much room. It is fixed by the compiler's runtime for
// the target; tests/core checks it against the runtime the build links.
constexpr std::size_t kExceptionHeaderBytes = 0xa0;

// Each thread's record of the exceptions it is handling hangs off a TLS
// slot, taken when the library is loaded and given back when it is unloaded;
// a thread's record goes when the thread ends (all called from DllMain).
void StartThreadExceptionState();
void EndThreadExceptionState();
void StopThreadExceptionState();

}  // namespace kxcore

#endif
