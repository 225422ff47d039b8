#include "tools/kxpack/program_builder.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>

#include "base/package_format.h"
#include "tools/kxpack/build_inputs.h"
#include "tools/kxpack/container_file.h"
#include "tools/kxpack/file_io.h"
#include "tools/kxpack/folder_tree.h"
#include "tools/kxpack/pe_resources.h"
#include "tools/kxpack/pe_stub.h"
#include "tools/kxpack/sevenzip_tool.h"
#include "tools/kxpack/signing.h"

namespace fs = std::filesystem;

namespace {

// Entries the programs cannot start without, as named in messages; the
// runtime looks them up without regard to case.
const char* const kRequiredRuntimeEntries[] = {kxformat::kCoreLibraryFile, kxformat::kProgramLibraryFile,
                                               kxformat::kPackageDataFile};

// The archive holds what the walk found, no more and no less: a folder that
// changed while 7-Zip read it fails the build here, not on a user's machine.
bool CheckArchiveHolds(const std::string& archive, const std::vector<TreeEntry>& tree, std::string* error) {
  std::vector<ArchiveEntry> entries;
  if (!ListArchive(archive, &entries, error)) return false;
  std::map<std::string, const TreeEntry*> expected;
  for (const TreeEntry& entry : tree) expected[entry.path] = &entry;
  for (const ArchiveEntry& entry : entries) {
    auto found = expected.find(entry.path);
    if (found == expected.end() || found->second->folder != entry.folder ||
        (!entry.folder && found->second->size != entry.size)) {
      *error = "'" + PrintablePath(entry.path) +
               "' went into the archive other than the folder held it (did it change meanwhile?)";
      return false;
    }
    expected.erase(found);
  }
  if (!expected.empty()) {
    *error = "'" + PrintablePath(expected.begin()->first) +
             "' is missing from the archive (did the folder change meanwhile?)";
    return false;
  }
  return true;
}

// Every line of text begins with prefix.
std::string Prefixed(const std::string& prefix, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + prefix + line;
  return text;
}

// The archive's bytes: made from folder, or read from a prebuilt one.
// what names the archive in messages ("payload", "runtime").
bool ObtainArchive(ArchiveKind kind, const std::string& what, const std::string& folder, const std::string& prebuilt,
                   const std::string& scratch, uint64_t solidBlockBytes, std::vector<unsigned char>* bytes,
                   std::string* error) {
  std::string path = prebuilt;
  if (path.empty()) {
    std::vector<TreeEntry> tree;
    std::vector<std::string> problems;
    if (!ScanFolderTree(folder, &tree, &problems)) {
      *error = Prefixed(what + ": ", problems);
      return false;
    }
    path = scratch;
    if (!CreateArchive(kind, fs::absolute(folder).string(), path, solidBlockBytes, error) ||
        !CheckArchiveHolds(path, tree, error)) {
      *error = what + ": " + *error;
      return false;
    }
    if (!ReadFile(path, bytes)) {
      *error = what + ": cannot read archive " + path;
      return false;
    }
  } else if (!ReadInputFile(path, kMaxProgramBytes, bytes, error)) {
    *error = what + ": " + *error;
    return false;
  }
  if (!IsSevenZipStartHeader(bytes->data(), bytes->size())) {
    *error = what + ": " + path + " is not a 7z archive";
    return false;
  }
  return true;
}

bool HasEntry(const std::vector<ArchiveEntry>& entries, const std::string& name) {
  for (const ArchiveEntry& entry : entries)
    if (!entry.folder && Lower(entry.path) == name) return true;
  return false;
}

bool ListSlice(const std::vector<unsigned char>& file, uint64_t begin, uint64_t end, const std::string& scratchPath,
               std::vector<ArchiveEntry>* entries, std::string* error) {
  std::vector<unsigned char> slice(file.begin() + static_cast<long>(begin), file.begin() + static_cast<long>(end));
  if (!WriteFileAtomically(scratchPath, slice, 0644)) {
    *error = "cannot write " + scratchPath;
    return false;
  }
  return ListArchive(scratchPath, entries, error);
}

// Reads the written file back and checks it as the program will.
bool VerifyProgram(const std::string& path, const std::string& scratch, std::string* error) {
  std::vector<unsigned char> file;
  if (!ReadFile(path, &file)) {
    *error = "cannot read back " + path;
    return false;
  }
  PackageLayout layout;
  if (!ReadPackageLayout(file, &layout, error)) return false;
  const uint64_t expected = layout.containerOffset + kxformat::kContainerHeaderSize + layout.payloadLength;
  if (layout.runtimePosition != expected) {
    *error = "the runtime archive would be found at " + std::to_string(layout.runtimePosition) +
             " instead of " + std::to_string(expected);
    return false;
  }
  std::vector<ArchiveEntry> entries;
  if (layout.payloadLength > 0 &&
      !ListSlice(file, layout.containerOffset + kxformat::kContainerHeaderSize, expected, scratch + "/verify-payload.7z",
                 &entries, error))
    return false;
  if (!ListSlice(file, layout.runtimePosition, layout.runtimePosition + layout.runtimeLength,
                 scratch + "/verify-runtime.7z", &entries, error))
    return false;
  for (const char* name : kRequiredRuntimeEntries) {
    if (!HasEntry(entries, Lower(name))) {
      *error = std::string("the runtime archive holds no ") + name;
      return false;
    }
  }
  return true;
}

bool CheckRuntimeFolder(const std::string& folder, std::string* error) {
  std::vector<ArchiveEntry> files;
  std::error_code ec, kind;
  for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
    if (it->is_regular_file(kind)) {
      files.emplace_back();
      files.back().path = it->path().filename().string();
    }
  if (ec) {
    *error = "cannot read runtime folder " + folder + ": " + ec.message();
    return false;
  }
  for (const char* name : kRequiredRuntimeEntries) {
    if (!HasEntry(files, Lower(name))) {
      *error = "runtime folder " + folder + " holds no " + name;
      return false;
    }
  }
  return true;
}

}  // namespace

bool BuildProgram(const ProgramInputs& inputs, const std::string& out, std::string* error) {
  StubImage stub;
  if (!PrepareStub(inputs.stub, &stub, error)) {
    *error = inputs.stubName + ": " + *error;
    return false;
  }
  if (stub.trimmedBytes > 0)
    std::cerr << "kxpack: note: cut " << stub.trimmedBytes << " bytes behind the stub's last section\n";
  const bool setup = !inputs.payload.empty() || !inputs.payloadArchive.empty();
  if (HasPackageResources(inputs.identity) || !inputs.identity.version.empty()) {
    std::vector<unsigned char> rewritten;
    if (!ApplyPackageResources(stub.bytes, inputs.identity, setup ? ProgramRole::kSetup : ProgramRole::kUninstaller,
                               &rewritten, error))
      return false;
    stub.bytes = std::move(rewritten);
  }
  if (!inputs.sign.empty() && !CheckSigningCommand(inputs.sign, error)) return false;
  if (inputs.runtimeArchive.empty() && !CheckRuntimeFolder(inputs.runtime, error)) return false;

  TempFolder scratch;
  if (scratch.path.empty()) {
    *error = "cannot create a temporary folder";
    return false;
  }
  std::vector<unsigned char> payload, runtime;
  if ((!inputs.payload.empty() || !inputs.payloadArchive.empty()) &&
      !ObtainArchive(ArchiveKind::Payload, "payload", inputs.payload, inputs.payloadArchive,
                     scratch.path + "/payload.7z", inputs.solidBlockBytes, &payload, error))
    return false;
  const ArchiveKind runtimeKind = inputs.nested ? ArchiveKind::NestedRuntime : ArchiveKind::Runtime;
  if (!ObtainArchive(runtimeKind, "runtime", inputs.runtime, inputs.runtimeArchive, scratch.path + "/runtime.7z", 0,
                     &runtime, error))
    return false;
  // Written and checked beside the scratch archives; only a program that
  // reads back takes the output's place.
  std::string written = scratch.path + "/program.exe";
  std::vector<unsigned char> composed = ComposePackage(stub.bytes, payload, runtime);
  UpdatePeChecksum(&composed);
  if (!WriteFileAtomically(written, composed)) {
    *error = "cannot write " + written;
    return false;
  }
  if (!inputs.sign.empty()) {
    const std::string signedFile = scratch.path + "/signed.exe";
    if (!RunSigningCommand(inputs.sign, written, signedFile, scratch.path + "/sign.log", error)) return false;
    written = signedFile;
  }
  if (!VerifyProgram(written, scratch.path, error)) {
    *error = "the written program does not read back: " + *error;
    return false;
  }
  std::vector<unsigned char> bytes;
  if (!ReadFile(written, &bytes)) {
    *error = "cannot read back " + written;
    return false;
  }
  uint32_t certificateOffset = 0, certificateSize = 0;
  CertificateTable(bytes, &certificateOffset, &certificateSize);
  if (!inputs.sign.empty() && certificateSize == 0) {
    *error = "the signing command wrote a file without a signature";
    return false;
  }
  return WriteOutputFile(out, bytes, error);
}

bool VerifyProgramFile(const std::string& path, std::string* error) {
  TempFolder scratch;
  if (scratch.path.empty()) {
    *error = "cannot create a temporary folder";
    return false;
  }
  return VerifyProgram(path, scratch.path, error);
}
