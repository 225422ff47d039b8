// Builds one program file: a stub, the container header and the two
// archives, written atomically and read back the way the program reads it.
#ifndef KX_TOOLS_KXPACK_PROGRAM_BUILDER_H
#define KX_TOOLS_KXPACK_PROGRAM_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/kxpack/package_resources.h"

constexpr uint64_t kDefaultSolidBlockBytes = 64ull << 20;

struct ProgramInputs {
  std::vector<unsigned char> stub;  // the stub image as it goes into the program
  std::string stubName;             // for messages
  // The payload: a folder, a ready-made archive, or neither (the uninstaller).
  std::string payload, payloadArchive;
  // The runtime: a folder or a ready-made archive.
  std::string runtime, runtimeArchive;
  uint64_t solidBlockBytes = kDefaultSolidBlockBytes;
  // The program goes inside another program's runtime archive: its own
  // runtime is stored uncompressed (ArchiveKind::NestedRuntime).
  bool nested = false;
  // The package's resources for the stub (none when empty) and a signing
  // command run on the finished program (signing.h; none when empty).
  PackageIdentity identity;
  std::string sign;
};

// Writes the program to out and reads it back: the container where the
// reader looks, the runtime archive exactly behind the payload, both
// archives opening, the runtime holding KXCore64.dll and kxpackage.dat.
// False with a message; out is then left as it was (never a partial file).
bool BuildProgram(const ProgramInputs& inputs, const std::string& out, std::string* error);

// The read-back checks of BuildProgram on a finished program file.
bool VerifyProgramFile(const std::string& path, std::string* error);

#endif
