// Process-wide values of the install script that its page handlers read.
#ifndef KX_SCRIPT_SCRIPT_STATE_H
#define KX_SCRIPT_SCRIPT_STATE_H

#include <stddef.h>
#include <stdint.h>

// Paths the script evaluates for its own calls, terminating zero included.
constexpr size_t kScriptPathCapacity = 782;
constexpr int kScriptPathBytes = static_cast<int>(kScriptPathCapacity * sizeof(wchar_t));

// Pages passed forward minus Back steps; 0 on the welcome and final pages.
// A page opened while it is 0 has its Back button disabled.
extern int32_t g_pageCounter;

#endif
