// kxpack: builds packages and describes them.
//
//   kxpack build --package FILE --out FILE [--payload DIR] [--parts DIR]
//                [--stage DIR] [--solid-block-size BYTES] [--sign COMMAND]
//   kxpack build --stub FILE --runtime DIR --out FILE [--payload DIR]
//                [--payload-archive FILE] [--runtime-archive FILE]
//                [--solid-block-size BYTES] [--sign COMMAND]
//                [--title TEXT] [--icon FILE.ico] [--product-name TEXT]
//                [--product-version TEXT] [--publisher TEXT] [--copyright TEXT]
//   kxpack init DIR [--parts DIR]
//   kxpack info FILE
//   kxpack manifest --installer FILE --url URL --out DIR [--package FILE]
//                   [--id ID] [--licence TEXT] [--short-description TEXT]
#include <sys/stat.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tools/kxpack/build_inputs.h"
#include "tools/kxpack/container_file.h"
#include "tools/kxpack/file_io.h"
#include "tools/kxpack/manifest_command.h"
#include "tools/kxpack/package_build.h"
#include "tools/kxpack/program_builder.h"
#include "tools/kxpack/sevenzip_tool.h"
#include "tools/kxpack/starter.h"

namespace fs = std::filesystem;

namespace {

// The smallest solid block worth one: the LZMA2 blocks kxpack cuts are no
// smaller. The largest: no package kxpack writes is larger.
constexpr uint64_t kMinSolidBlockBytes = 256 << 10;
constexpr uint64_t kMaxSolidBlockBytes = kMaxProgramBytes;

int Fail(const std::string& message) {
  std::string text = message;
  for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 9) text.replace(at, 1, "\nkxpack: ");
  std::cerr << "kxpack: " << text << "\n";
  return 1;
}

// A plain decimal number within the range, nothing else: strtoull would
// take "-1" for 2^64 - 1 and wrap twenty digits.
bool ParseBytes(const std::string& text, uint64_t least, uint64_t most, uint64_t* value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = std::stoull(text);
  return *value >= least && *value <= most;
}

// kxpack itself is an input of every build: no --out may replace it.
void NoteOwnProgram() {
  struct stat status;
  if (stat("/proc/self/exe", &status) == 0)
    NoteInput({static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)}, "kxpack itself");
}

// One program from a stub and a runtime folder as they are: the form the
// tests and benchmarks use for programs of their own.
int BuildFromParts(const ProgramInputs& given, const std::string& stub, const std::string& icon,
                   const std::string& out) {
  if (stub.empty() || out.empty() || (given.runtime.empty() && given.runtimeArchive.empty()))
    return Fail("build needs --package and --out, or --stub, --runtime (or --runtime-archive) and --out");
  std::string error;
  if (!CheckOutputPath(out, &error)) return Fail(error);
  ProgramInputs inputs = given;
  inputs.stubName = stub;
  if (!ReadInputFile(stub, kMaxPartBytes, &inputs.stub, &error)) return Fail("cannot read stub: " + error);
  if (inputs.stub.empty()) return Fail("stub " + stub + " is empty");
  if (!icon.empty() && !ReadInputFile(icon, kMaxPageBytes, &inputs.identity.icon, &error))
    return Fail("cannot read icon: " + error);
  if (!icon.empty() && inputs.identity.icon.empty()) return Fail("icon " + icon + " is empty");
  // The uninstaller is always installed as Uninst.exe; a setup program
  // keeps the name it is built under.
  if (!inputs.payload.empty() || !inputs.payloadArchive.empty())
    inputs.identity.fileName = fs::path(out).filename().string();
  if (!BuildProgram(inputs, out, &error)) return Fail(error);
  return 0;
}

void PrintEntries(const char* title, const std::string& archive) {
  std::vector<ArchiveEntry> entries;
  std::string error;
  std::cout << title << "\n";
  if (!ListArchive(archive, &entries, &error)) {
    std::cout << "  (" << error << ")\n";
    return;
  }
  for (const ArchiveEntry& entry : entries) {
    if (entry.folder)
      std::cout << "  " << entry.path << "/\n";
    else
      std::cout << "  " << entry.path << "  " << entry.size << " bytes  " << entry.attributes << "\n";
  }
}

int Info(const std::string& path) {
  std::vector<unsigned char> file;
  std::string error;
  if (!ReadRegularFile(path, kMaxProgramBytes, &file, &error)) return Fail(error);
  PackageLayout layout;
  if (!ReadPackageLayout(file, &layout, &error)) return Fail(path + ": " + error);
  std::cout << "container offset: " << layout.containerOffset << "\n"
            << "payload length:   " << layout.payloadLength << "\n"
            << "runtime length:   " << layout.runtimeLength << " (at " << layout.runtimePosition << ")\n"
            << "file size field:  " << layout.fileSizeField << " (file has " << file.size() << " bytes)\n";
  if (layout.certificateSize != 0)
    std::cout << "signature:        " << layout.certificateSize << " bytes (at " << layout.certificateOffset << ")\n";
  TempFolder scratch;
  if (scratch.path.empty()) return Fail("cannot create a temporary folder");
  if (layout.payloadLength > 0 && layout.containerOffset + kxformat::kContainerHeaderSize + layout.payloadLength <= file.size()) {
    auto begin = file.begin() + layout.containerOffset + kxformat::kContainerHeaderSize;
    std::vector<unsigned char> slice(begin, begin + static_cast<long>(layout.payloadLength));
    WriteFileAtomically(scratch.path + "/payload.7z", slice);
    PrintEntries("payload archive:", scratch.path + "/payload.7z");
  }
  auto runtimeBegin = file.begin() + static_cast<long>(layout.runtimePosition);
  std::vector<unsigned char> slice(runtimeBegin, runtimeBegin + static_cast<long>(layout.runtimeLength));
  WriteFileAtomically(scratch.path + "/runtime.7z", slice);
  PrintEntries("runtime archive:", scratch.path + "/runtime.7z");
  return 0;
}

int Usage() {
  std::cerr << "usage: kxpack build --package FILE --out FILE [--payload DIR] [--parts DIR]\n"
               "                    [--stage DIR] [--solid-block-size BYTES] [--sign 'COMMAND {in} {out}']\n"
               "       kxpack build --stub FILE --runtime DIR --out FILE [--payload DIR]\n"
               "                    [--payload-archive FILE] [--runtime-archive FILE]\n"
               "                    [--solid-block-size BYTES] [--sign 'COMMAND {in} {out}']\n"
               "                    [--title TEXT] [--icon FILE.ico] [--product-name TEXT]\n"
               "                    [--product-version TEXT] [--publisher TEXT] [--copyright TEXT]\n"
               "       kxpack init DIR [--parts DIR]\n"
               "       kxpack info FILE\n"
               "       kxpack manifest --installer FILE --url URL --out DIR [--package FILE]\n"
               "                       [--id ID] [--licence TEXT] [--short-description TEXT]\n"
               "See docs/packaging.md.\n";
  return 2;
}

// kxpack manifest: every option takes a value, given once.
int Manifest(int argc, char** argv) {
  ManifestOptions options;
  const std::map<std::string, std::string*> textOptions = {
      {"--installer", &options.installer}, {"--url", &options.url},
      {"--out", &options.out},             {"--package", &options.description},
      {"--id", &options.id},               {"--licence", &options.licence},
      {"--short-description", &options.shortDescription}};
  std::map<std::string, bool> given;
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    auto found = textOptions.find(name);
    if (found == textOptions.end()) return Fail("unknown option " + name + " of manifest");
    if (i + 1 >= argc || argv[i + 1][0] == '\0') return Fail("missing value after " + name);
    if (given[name]) return Fail(name + " is given twice");
    given[name] = true;
    *found->second = argv[++i];
  }
  return WriteWingetManifest(options);
}

int Run(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "info") return argc == 3 ? Info(argv[2]) : Usage();
  if (command == "manifest") return Manifest(argc, argv);
  if (command == "init") {
    if (argc == 3) return InitStarter(argv[2], "");
    if (argc == 5 && std::string(argv[3]) == "--parts") return InitStarter(argv[2], argv[4]);
    return Usage();
  }
  if (command != "build") return Usage();

  PackageBuildOptions package;
  ProgramInputs program;
  std::string stub, icon;
  const std::map<std::string, std::vector<std::string*>> textOptions = {
      {"--sign", {&package.sign, &program.sign}},
      {"--icon", {&icon}},
      {"--title", {&program.identity.title}},
      {"--product-name", {&program.identity.productName}},
      {"--product-version", {&program.identity.version}},
      {"--publisher", {&program.identity.publisher}},
      {"--copyright", {&program.identity.copyright}},
      {"--package", {&package.description}},
      {"--out", {&package.out}},
      {"--payload", {&package.payload, &program.payload}},
      {"--parts", {&package.parts}},
      {"--stage", {&package.stage}},
      {"--stub", {&stub}},
      {"--payload-archive", {&program.payloadArchive}},
      {"--runtime", {&program.runtime}},
      {"--runtime-archive", {&program.runtimeArchive}}};
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) return Fail("missing value after " + name);
    const std::string value = argv[++i];
    auto found = textOptions.find(name);
    if (found != textOptions.end()) {
      for (std::string* target : found->second) *target = value;
    } else if (name == "--solid-block-size") {
      if (!ParseBytes(value, kMinSolidBlockBytes, kMaxSolidBlockBytes, &package.solidBlockBytes))
        return Fail("--solid-block-size takes a whole number of bytes from " + std::to_string(kMinSolidBlockBytes) +
                    " to " + std::to_string(kMaxSolidBlockBytes) + ", not '" + value + "'");
      program.solidBlockBytes = package.solidBlockBytes;
    } else {
      return Fail("unknown option " + name);
    }
  }
  NoteOwnProgram();
  if (!package.description.empty()) {
    if (!stub.empty() || !program.runtime.empty() || !program.runtimeArchive.empty() ||
        !program.payloadArchive.empty())
      return Fail("--package builds both programs from the prebuilt parts; it takes no --stub or --runtime");
    if (!icon.empty() || HasPackageResources(program.identity) || !program.identity.version.empty() ||
        !program.identity.publisher.empty() || !program.identity.copyright.empty())
      return Fail("--package takes the title, icon and version from the description");
    return BuildPackage(package);
  }
  return BuildFromParts(program, stub, icon, package.out);
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever escapes is a fault of kxpack's, but it still gets a message
  // and an exit code, and the scratch folders are removed on the way out.
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    return Fail(std::string("unexpected error: ") + error.what());
  } catch (...) {
    return Fail("unexpected error");
  }
}
