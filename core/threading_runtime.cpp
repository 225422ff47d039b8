// Stand-ins for the parts of the C++ runtime that need to know about
// threads: the guards of function-local statics, the allocation of thrown
// objects and each thread's record of the exceptions it handles. The
// runtime's own are built on its POSIX thread layer and its emulated
// thread-local storage, which a static link brings into the library whole
// (about 30 KB); these use the system's interlocked operations, a TLS slot
// and the heap. Defined here, they keep the runtime's own archive members
// out of the link; should one of those come in for another symbol, the link
// fails loudly.
#include "core/threading_runtime.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <exception>

// A static's guard is 64 bits. The compiler's inline check reads the first
// byte: not zero once the static is made. The upper half holds the id of the
// thread making it, so that other threads wait for that one while statics
// made inside another's initialisation go ahead.
namespace {

char* DoneFlag(long long* guard) { return reinterpret_cast<char*>(guard); }
volatile LONG* Maker(long long* guard) { return reinterpret_cast<volatile LONG*>(guard) + 1; }

}  // namespace

extern "C" int __cxa_guard_acquire(long long* guard) {
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  for (;;) {
    if (__atomic_load_n(DoneFlag(guard), __ATOMIC_ACQUIRE)) return 0;
    const LONG maker = InterlockedCompareExchange(Maker(guard), self, 0);
    if (maker == 0) {
      if (!__atomic_load_n(DoneFlag(guard), __ATOMIC_ACQUIRE)) return 1;
      InterlockedExchange(Maker(guard), 0);
      return 0;
    }
    // The same static again from inside its own initialisation.
    if (maker == self) std::terminate();
    SwitchToThread();
  }
}

extern "C" void __cxa_guard_release(long long* guard) {
  __atomic_store_n(DoneFlag(guard), 1, __ATOMIC_RELEASE);
  InterlockedExchange(Maker(guard), 0);
}

extern "C" void __cxa_guard_abort(long long* guard) { InterlockedExchange(Maker(guard), 0); }

// A thrown object follows the runtime's zeroed header. When the heap is
// exhausted (std::bad_alloc is thrown then), one small reserve serves, as
// the runtime's own emergency pool would.
namespace {

alignas(16) unsigned char g_reserve[512];
volatile LONG g_reserveTaken = 0;

}  // namespace

extern "C" void* __cxa_allocate_exception(size_t size) noexcept {
  const size_t total = kxcore::kExceptionHeaderBytes + size;
  void* block = std::malloc(total);
  if (!block && total <= sizeof g_reserve && InterlockedExchange(&g_reserveTaken, 1) == 0) block = g_reserve;
  if (!block) std::terminate();
  std::memset(block, 0, kxcore::kExceptionHeaderBytes);
  return static_cast<unsigned char*>(block) + kxcore::kExceptionHeaderBytes;
}

extern "C" void __cxa_free_exception(void* object) noexcept {
  unsigned char* block = static_cast<unsigned char*>(object) - kxcore::kExceptionHeaderBytes;
  if (block == g_reserve)
    InterlockedExchange(&g_reserveTaken, 0);
  else
    std::free(block);
}

// The runtime's per-thread record: the exceptions being handled and the
// count of those thrown and not yet caught. Zeroed when first asked for.
namespace {

struct ThreadExceptions {
  void* caught;
  unsigned int uncaught;
};
static_assert(sizeof(ThreadExceptions) == 16, "the runtime's per-thread exception record");

DWORD g_exceptionSlot = TLS_OUT_OF_INDEXES;
// For code that throws before the slot exists (static constructors run
// before DllMain): only the loading thread runs then.
ThreadExceptions g_loaderExceptions;

}  // namespace

namespace kxcore {

void StartThreadExceptionState() { g_exceptionSlot = TlsAlloc(); }

void EndThreadExceptionState() {
  if (g_exceptionSlot == TLS_OUT_OF_INDEXES) return;
  void* record = TlsGetValue(g_exceptionSlot);
  if (record) HeapFree(GetProcessHeap(), 0, record);
  TlsSetValue(g_exceptionSlot, nullptr);
}

void StopThreadExceptionState() {
  EndThreadExceptionState();
  if (g_exceptionSlot != TLS_OUT_OF_INDEXES) TlsFree(g_exceptionSlot);
  g_exceptionSlot = TLS_OUT_OF_INDEXES;
}

}  // namespace kxcore

extern "C" void* __cxa_get_globals_fast() noexcept {
  if (g_exceptionSlot == TLS_OUT_OF_INDEXES) return &g_loaderExceptions;
  void* record = TlsGetValue(g_exceptionSlot);
  if (!record) {
    record = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ThreadExceptions));
    if (!record || !TlsSetValue(g_exceptionSlot, record)) std::terminate();
  }
  return record;
}

extern "C" void* __cxa_get_globals() noexcept { return __cxa_get_globals_fast(); }
