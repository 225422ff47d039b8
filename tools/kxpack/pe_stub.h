// Checks a stub executable and prepares it to carry a container.
#ifndef KX_TOOLS_KXPACK_PE_STUB_H
#define KX_TOOLS_KXPACK_PE_STUB_H

#include <cstdint>
#include <string>
#include <vector>

struct StubImage {
  std::vector<unsigned char> bytes;  // the image, cut at the container offset
  uint32_t containerOffset = 0;
  uint64_t trimmedBytes = 0;         // bytes behind the last section that were cut
};

// Validates a PE32+ x86-64 image as the program's reader sees it and cuts
// anything behind its last section (a symbol table, say), clearing the COFF
// symbol table fields that pointed there. Returns false with a message for
// anything the reader would misread.
bool PrepareStub(std::vector<unsigned char> bytes, StubImage* stub, std::string* error);

#endif
