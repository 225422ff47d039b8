#include "launcher/script_guard.h"

#include <excpt.h>

// MinGW's __try1/__except1 register a filter for the code between them and
// resume after __except1 when the filter accepts the exception. The labels
// they emit are fixed, so this file holds exactly one guard.

namespace {
DWORD g_caughtCode;
bool g_caught;
}  // namespace

// Named in the guard's unwind data by its plain symbol, hence extern "C".
extern "C" __attribute__((used)) long KxAcceptEveryException(EXCEPTION_POINTERS* exception, void*) {
  g_caughtCode = exception->ExceptionRecord->ExceptionCode;
  g_caught = true;
  return EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((noinline)) bool CallGuarded(int (*work)(void* context), void* context, int* result,
                                           DWORD* exceptionCode) {
  g_caught = false;
  g_caughtCode = 0;
  volatile int value = *result;
  __try1(KxAcceptEveryException) {
    value = work(context);
  }
  __except1;
  if (g_caught) {
    *exceptionCode = g_caughtCode;
    return true;
  }
  *result = value;
  return false;
}
