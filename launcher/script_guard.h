// A structured exception guard: the only exception handling the programs do.
#ifndef KX_LAUNCHER_SCRIPT_GUARD_H
#define KX_LAUNCHER_SCRIPT_GUARD_H

#include <windows.h>

// Calls work(context) and catches every structured exception raised inside
// it (an access violation, an operation of the core library that cannot be
// bound, ...). Returns true and stores the exception code when one was
// caught; *result is then left as it was.
bool CallGuarded(int (*work)(void* context), void* context, int* result, DWORD* exceptionCode);

#endif
