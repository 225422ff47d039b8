// A stand-in for the extraction engine (extract/extraction.h) in the install
// script's unit tests: it records each ExtractArchive call and answers as
// the test scripts it. The path services are the real ones.
#ifndef KX_TESTS_SCRIPT_EXTRACTION_DOUBLE_H
#define KX_TESTS_SCRIPT_EXTRACTION_DOUBLE_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "extract/extraction.h"

namespace kxtest {

struct ExtractCall {
  std::wstring archivePath;
  std::wstring destination;
  bool hasOffset;
  uint32_t offset;
  unsigned char silent;
  KxDialogHandler progressHandler;
  ExtractFileHook hook;
};

struct ExtractionDouble {
  std::vector<ExtractCall> calls;
  // Runs in place of the engine; its result is ExtractArchive's. Unset:
  // kExtractDone.
  std::function<ExtractResult(const ExtractCall&)> run;
};

ExtractionDouble& Extraction();
void ResetExtraction();

}  // namespace kxtest

#endif
