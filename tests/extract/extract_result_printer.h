// Prints extraction results by name in test failures.
#ifndef KX_TESTS_EXTRACT_EXTRACT_RESULT_PRINTER_H
#define KX_TESTS_EXTRACT_EXTRACT_RESULT_PRINTER_H

#include <ostream>

#include "extract/extraction.h"

inline void PrintTo(const ExtractResult& result, std::ostream* out) {
  static const char* const kNames[] = {"kDone",         "kCancelled", "kOutOfMemory", "kArchiveError",
                                       "kEngineFailed", "kDiskFull",  "kCloseFailed"};
  *out << kNames[static_cast<int>(result.outcome)] << " " << result.code;
}

#endif
