// kxpack: builds a package (stub + container) and describes one.
//
//   kxpack build --stub FILE --runtime DIR --out FILE [--payload DIR]
//                [--payload-archive FILE] [--runtime-archive FILE]
//                [--solid-block-size BYTES] [--sign COMMAND]
//                [--title TEXT] [--icon FILE.ico] [--product-name TEXT]
//                [--product-version TEXT] [--publisher TEXT] [--copyright TEXT]
//   kxpack info FILE
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "container_file.h"
#include "package_resources.h"
#include "pe_resources.h"
#include "pe_stub.h"
#include "sevenzip_tool.h"
#include "signing.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kDefaultSolidBlockBytes = 64ull << 20;
constexpr char kCoreLibraryName[] = "kxcore64.dll";

int Fail(const std::string& message) {
  std::cerr << "kxpack: " << message << "\n";
  return 1;
}

bool ReadFile(const std::string& path, std::vector<unsigned char>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::string temporary = path + ".kxpack-tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) return false;
  }
  chmod(temporary.c_str(), 0755);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Every file under folder must be readable: 7-Zip would otherwise only warn.
bool CheckReadableTree(const std::string& folder, std::string* error) {
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
  if (ec) {
    *error = "cannot read folder " + folder + ": " + ec.message();
    return false;
  }
  bool any = false;
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) {
      *error = "cannot read " + folder + ": " + ec.message();
      return false;
    }
    any = true;
    if (it->is_regular_file() && access(it->path().c_str(), R_OK) != 0) {
      *error = "cannot read " + it->path().string();
      return false;
    }
  }
  if (!any) {
    *error = "folder " + folder + " is empty";
    return false;
  }
  return true;
}

struct TempFolder {
  std::string path;
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "kxpack.XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data())) path = buffer.data();
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

struct BuildOptions {
  std::string stub, payload, payloadArchive, runtime, runtimeArchive, out, icon, sign;
  uint64_t solidBlockBytes = kDefaultSolidBlockBytes;
  PackageIdentity identity;
};

bool ObtainArchive(ArchiveKind kind, const std::string& folder, const std::string& prebuilt,
                   const std::string& scratch, uint64_t solidBlockBytes, std::vector<unsigned char>* bytes,
                   std::string* error) {
  std::string path = prebuilt;
  if (path.empty()) {
    if (!CheckReadableTree(folder, error)) return false;
    path = scratch;
    if (!CreateArchive(kind, fs::absolute(folder).string(), path, solidBlockBytes, error)) return false;
  }
  if (!ReadFile(path, bytes)) {
    *error = "cannot read archive " + path;
    return false;
  }
  if (!IsSevenZipStartHeader(bytes->data(), bytes->size())) {
    *error = path + " is not a 7z archive";
    return false;
  }
  return true;
}

bool HasCoreLibrary(const std::vector<ArchiveEntry>& entries) {
  for (const ArchiveEntry& entry : entries)
    if (!entry.folder && Lower(entry.path) == kCoreLibraryName) return true;
  return false;
}

// Reads the written file back and checks it as the program will.
bool VerifyPackage(const std::string& path, const std::string& scratch, std::string* error) {
  std::vector<unsigned char> file;
  if (!ReadFile(path, &file)) {
    *error = "cannot read back " + path;
    return false;
  }
  PackageLayout layout;
  if (!ReadPackageLayout(file, &layout, error)) return false;
  const uint64_t expected = layout.containerOffset + kContainerHeaderSize + layout.payloadLength;
  if (layout.runtimePosition != expected) {
    *error = "the runtime archive would be found at " + std::to_string(layout.runtimePosition) +
             " instead of " + std::to_string(expected);
    return false;
  }
  std::vector<ArchiveEntry> entries;
  if (layout.payloadLength > 0) {
    std::string payload = scratch + "/verify-payload.7z";
    std::vector<unsigned char> slice(file.begin() + layout.containerOffset + kContainerHeaderSize,
                                     file.begin() + static_cast<long>(expected));
    if (!WriteFileAtomically(payload, slice) || !ListArchive(payload, &entries, error)) return false;
  }
  std::string runtime = scratch + "/verify-runtime.7z";
  auto runtimeBegin = file.begin() + static_cast<long>(layout.runtimePosition);
  std::vector<unsigned char> slice(runtimeBegin, runtimeBegin + static_cast<long>(layout.runtimeLength));
  if (!WriteFileAtomically(runtime, slice) || !ListArchive(runtime, &entries, error)) return false;
  if (!HasCoreLibrary(entries)) {
    *error = "the runtime archive holds no KXCore64.dll";
    return false;
  }
  return true;
}

int Build(BuildOptions options) {
  if (options.stub.empty() || options.out.empty() || (options.runtime.empty() && options.runtimeArchive.empty()))
    return Fail("build needs --stub, --runtime (or --runtime-archive) and --out");
  std::string error;
  if (!options.sign.empty() && !CheckSigningCommand(options.sign, &error)) return Fail(error);

  std::vector<unsigned char> stubBytes;
  if (!ReadFile(options.stub, &stubBytes) || stubBytes.empty()) return Fail("cannot read stub " + options.stub);
  StubImage stub;
  if (!PrepareStub(std::move(stubBytes), &stub, &error)) return Fail(options.stub + ": " + error);
  if (stub.trimmedBytes > 0)
    std::cerr << "kxpack: note: cut " << stub.trimmedBytes << " bytes behind the stub's last section\n";

  if (!options.icon.empty() && (!ReadFile(options.icon, &options.identity.icon) || options.identity.icon.empty()))
    return Fail("cannot read icon " + options.icon);
  if (HasPackageResources(options.identity) || !options.identity.version.empty()) {
    // The uninstaller is always installed as Uninst.exe; a setup program
    // keeps the name it is built under.
    const bool setup = !options.payload.empty() || !options.payloadArchive.empty();
    if (setup) options.identity.fileName = fs::path(options.out).filename().string();
    std::vector<unsigned char> rewritten;
    if (!ApplyPackageResources(stub.bytes, options.identity, setup ? ProgramRole::kSetup : ProgramRole::kUninstaller,
                               &rewritten, &error))
      return Fail((options.icon.empty() ? options.stub : options.icon) + ": " + error);
    stub.bytes = std::move(rewritten);
  }

  if (options.runtimeArchive.empty()) {
    bool found = false;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(options.runtime, ec))
      if (entry.is_regular_file() && Lower(entry.path().filename().string()) == kCoreLibraryName) found = true;
    if (ec) return Fail("cannot read runtime folder " + options.runtime + ": " + ec.message());
    if (!found) return Fail("runtime folder " + options.runtime + " holds no KXCore64.dll");
  }

  TempFolder scratch;
  if (scratch.path.empty()) return Fail("cannot create a temporary folder");
  std::vector<unsigned char> payload, runtime;
  if ((!options.payload.empty() || !options.payloadArchive.empty()) &&
      !ObtainArchive(ArchiveKind::Payload, options.payload, options.payloadArchive, scratch.path + "/payload.7z",
                     options.solidBlockBytes, &payload, &error))
    return Fail("payload: " + error);
  if (!ObtainArchive(ArchiveKind::Runtime, options.runtime, options.runtimeArchive, scratch.path + "/runtime.7z",
                     0, &runtime, &error))
    return Fail("runtime: " + error);

  // The package is finished and checked in the scratch folder; only a good
  // one reaches --out.
  std::vector<unsigned char> package = ComposePackage(stub.bytes, payload, runtime);
  UpdatePeChecksum(&package);
  std::string finished = scratch.path + "/package.exe";
  if (!WriteFileAtomically(finished, package)) return Fail("cannot write " + finished);
  if (!options.sign.empty()) {
    const std::string signedFile = scratch.path + "/signed.exe";
    if (!RunSigningCommand(options.sign, finished, signedFile, scratch.path + "/sign.log", &error)) return Fail(error);
    finished = signedFile;
  }
  if (!VerifyPackage(finished, scratch.path, &error)) return Fail("the written package does not read back: " + error);
  if (!ReadFile(finished, &package)) return Fail("cannot read back " + finished);
  if (!options.sign.empty()) {
    uint32_t offset = 0, size = 0;
    CertificateTable(package, &offset, &size);
    if (size == 0) return Fail("the signing command wrote a file without a signature");
  }
  if (!WriteFileAtomically(options.out, package)) return Fail("cannot write " + options.out);
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
  if (!ReadFile(path, &file)) return Fail("cannot read " + path);
  PackageLayout layout;
  std::string error;
  if (!ReadPackageLayout(file, &layout, &error)) return Fail(path + ": " + error);
  std::cout << "container offset: " << layout.containerOffset << "\n"
            << "payload length:   " << layout.payloadLength << "\n"
            << "runtime length:   " << layout.runtimeLength << " (at " << layout.runtimePosition << ")\n"
            << "file size field:  " << layout.fileSizeField << " (file has " << file.size() << " bytes)\n";
  if (layout.certificateSize != 0)
    std::cout << "signature:        " << layout.certificateSize << " bytes (at " << layout.certificateOffset << ")\n";
  TempFolder scratch;
  if (layout.payloadLength > 0 && layout.containerOffset + kContainerHeaderSize + layout.payloadLength <= file.size()) {
    auto begin = file.begin() + layout.containerOffset + kContainerHeaderSize;
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
  std::cerr << "usage: kxpack build --stub FILE --runtime DIR --out FILE [--payload DIR]\n"
               "                    [--payload-archive FILE] [--runtime-archive FILE]\n"
               "                    [--solid-block-size BYTES] [--sign 'COMMAND {in} {out}']\n"
               "                    [--title TEXT] [--icon FILE.ico] [--product-name TEXT]\n"
               "                    [--product-version TEXT] [--publisher TEXT] [--copyright TEXT]\n"
               "       kxpack info FILE\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  if (command == "info") return argc == 3 ? Info(argv[2]) : Usage();
  if (command != "build") return Usage();

  BuildOptions options;
  std::map<std::string, std::string*> textOptions = {
      {"--stub", &options.stub},       {"--payload", &options.payload},
      {"--payload-archive", &options.payloadArchive}, {"--runtime", &options.runtime},
      {"--runtime-archive", &options.runtimeArchive}, {"--out", &options.out},
      {"--icon", &options.icon}, {"--sign", &options.sign},
      {"--title", &options.identity.title}, {"--product-name", &options.identity.productName},
      {"--product-version", &options.identity.version}, {"--publisher", &options.identity.publisher},
      {"--copyright", &options.identity.copyright}};
  for (int i = 2; i < argc; ++i) {
    std::string name = argv[i];
    if (i + 1 >= argc) return Fail("missing value after " + name);
    std::string value = argv[++i];
    auto found = textOptions.find(name);
    if (found != textOptions.end()) {
      *found->second = value;
    } else if (name == "--solid-block-size") {
      char* end = nullptr;
      options.solidBlockBytes = std::strtoull(value.c_str(), &end, 10);
      if (!end || *end || options.solidBlockBytes == 0) return Fail("bad --solid-block-size " + value);
    } else {
      return Fail("unknown option " + name);
    }
  }
  return Build(options);
}
