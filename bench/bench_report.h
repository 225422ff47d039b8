// One result line of a benchmark program, read by bench/run.sh:
//   result=<code> files=<n> ms=<extraction time> peak_ws=<bytes> peak_private=<bytes>
#ifndef KX_BENCH_BENCH_REPORT_H
#define KX_BENCH_BENCH_REPORT_H

#include <windows.h>
#include <psapi.h>
#include <stdio.h>

inline double MillisecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline void PrintReport(int result, long files, double milliseconds) {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
  printf("result=%d files=%ld ms=%.1f peak_ws=%llu peak_private=%llu\n", result, files, milliseconds,
         static_cast<unsigned long long>(counters.PeakWorkingSetSize),
         static_cast<unsigned long long>(counters.PeakPagefileUsage));
  fflush(stdout);
}

#endif
