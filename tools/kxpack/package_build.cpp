#include "tools/kxpack/package_build.h"

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <vector>

#include "base/loader_sections.h"
#include "base/package_format.h"
#include "tools/kxpack/build_inputs.h"
#include "tools/kxpack/file_io.h"
#include "tools/kxpack/package_data_file.h"
#include "tools/kxpack/package_description.h"
#include "tools/kxpack/package_stub.h"
#include "tools/kxpack/prebuilt_parts.h"
#include "tools/kxpack/shipped_languages.h"

namespace fs = std::filesystem;

namespace {

// A runtime folder's file: copied from the parts or written from bytes.
struct StagedFile {
  std::string name;
  std::string source;                // a file, or
  std::vector<unsigned char> bytes;  // its contents
};

long long RuntimeFileTime() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch && *epoch) {
    char* end = nullptr;
    long long value = std::strtoll(epoch, &end, 10);
    if (end && *end == '\0' && value >= 0) return value;
  }
  return kDefaultRuntimeFileTime;
}

// Writes a fresh runtime folder; every file gets the same permissions and
// time, so the runtime archive depends on the contents alone.
bool StageRuntime(const std::string& folder, const std::vector<StagedFile>& files, std::string* error) {
  std::error_code ec;
  fs::remove_all(folder, ec);
  if (!fs::create_directories(folder, ec)) {
    *error = "cannot create " + folder + ": " + ec.message();
    return false;
  }
  const long long time = RuntimeFileTime();
  for (const StagedFile& file : files) {
    std::vector<unsigned char> bytes = file.bytes;
    if (!file.source.empty() && !ReadInputFile(file.source, kMaxPartBytes, &bytes, error)) return false;
    const std::string path = folder + "/" + file.name;
    struct utimbuf times = {static_cast<time_t>(time), static_cast<time_t>(time)};
    if (!WriteFileAtomically(path, bytes, 0644) || utime(path.c_str(), &times) != 0) {
      *error = "cannot write " + path;
      return false;
    }
  }
  return true;
}

const char* const kStageFolders[] = {"runtime-uninst", "runtime-setup"};

// The stage's runtime folders are written into new or empty folders only:
// --stage is a place to look, never a folder of the user's to clear.
bool CheckStageFolder(const std::string& folder, std::string* error) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(folder, ec);
  if (status.type() == fs::file_type::not_found) return true;
  if (status.type() != fs::file_type::directory || !fs::is_empty(folder, ec) || ec) {
    *error = "--stage: " + folder +
             " exists and is not an empty folder; the stage is written into new or empty folders";
    return false;
  }
  return true;
}

// The folder --stage names: absent, or a folder (or a link to one) for the
// runtime folders to go into.
bool CheckStage(const std::string& stage, std::string* error) {
  std::error_code ec;
  const fs::file_status status = fs::status(stage, ec);
  if (status.type() != fs::file_type::not_found && status.type() != fs::file_type::directory) {
    *error = "--stage: " + stage + " is not a folder";
    return false;
  }
  for (const char* folder : kStageFolders)
    if (!CheckStageFolder(stage + "/" + folder, error)) return false;
  return true;
}

// Copies a staged runtime folder to where --stage asked for it; nothing
// there is replaced.
bool KeepStage(const std::string& from, const std::string& to, std::string* error) {
  if (!CheckStageFolder(to, error)) return false;
  std::error_code ec;
  fs::create_directories(to, ec);
  if (!ec) fs::copy(from, to, fs::copy_options::recursive, ec);
  if (ec) {
    *error = "cannot keep the runtime folder in " + to + ": " + ec.message();
    return false;
  }
  // fs::copy does not keep file times; the stage is for tests and inspection
  // and should look like what went into the archive.
  const long long time = RuntimeFileTime();
  struct utimbuf times = {static_cast<time_t>(time), static_cast<time_t>(time)};
  for (fs::directory_iterator it(to, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
    utime(it->path().c_str(), &times);
  return true;
}

// The uninstaller as the setup's runtime carries it: the bytes of the core
// library and of the program library, which that runtime carries beside it,
// left out (zero). The runtime archive's x86 filter turns the calls of two
// copies into different bytes, so the compressor would not find the second
// copy; setup puts the libraries' bytes back before it writes the
// uninstaller (launcher/uninstaller_completion.h). Only a library whose
// bytes stand in the uninstaller exactly once, as its stored runtime archive
// holds them, is left out; otherwise it is carried whole.
std::vector<unsigned char> WithoutLibraries(std::vector<unsigned char> uninstaller,
                                            const std::vector<std::vector<unsigned char>>& libraries) {
  for (const std::vector<unsigned char>& library : libraries) {
    if (library.empty()) continue;
    const auto first = std::search(uninstaller.begin(), uninstaller.end(), library.begin(), library.end());
    if (first == uninstaller.end() ||
        std::search(first + 1, uninstaller.end(), library.begin(), library.end()) != uninstaller.end())
      continue;
    std::fill(first, first + static_cast<std::ptrdiff_t>(library.size()), 0);
  }
  return uninstaller;
}

// The uninstaller as the setup's runtime carries it, continued: the bytes of
// its loader's sections (base/loader_sections.h) left out where the setup
// program's stub has the same section, at the same place, with the same
// bytes. Both stubs are one loader with other resources; setup puts these
// bytes back from its own file (launcher/uninstaller_completion.h).
std::vector<unsigned char> WithoutLoader(std::vector<unsigned char> uninstaller,
                                         const std::vector<unsigned char>& setupStub) {
  kxformat::LoaderSection ours[kxformat::kMaxLoaderSections], theirs[kxformat::kMaxLoaderSections];
  const size_t count = kxformat::FindLoaderSections(
      uninstaller.data(), std::min(uninstaller.size(), kxformat::kHeaderBufferSize), ours);
  const size_t setupCount = kxformat::FindLoaderSections(
      setupStub.data(), std::min(setupStub.size(), kxformat::kHeaderBufferSize), theirs);
  for (size_t i = 0; i < count && i < setupCount; ++i) {
    const uint64_t end = uint64_t{ours[i].offset} + ours[i].size;
    if (ours[i].offset != theirs[i].offset || ours[i].size != theirs[i].size || end > uninstaller.size() ||
        end > setupStub.size() ||
        !std::equal(uninstaller.begin() + ours[i].offset, uninstaller.begin() + static_cast<std::ptrdiff_t>(end),
                    setupStub.begin() + ours[i].offset))
      continue;
    std::fill(uninstaller.begin() + ours[i].offset, uninstaller.begin() + static_cast<std::ptrdiff_t>(end), 0);
  }
  return uninstaller;
}

// The stage shows the uninstaller whole, as setup writes it, not with the
// core library left out as the archive carries it.
bool KeepWholeUninstaller(const std::string& uninstaller, const std::string& stageFolder, std::string* error) {
  std::vector<unsigned char> bytes;
  const std::string path = stageFolder + "/" + kxformat::kUninstallerFile;
  const long long time = RuntimeFileTime();
  struct utimbuf times = {static_cast<time_t>(time), static_cast<time_t>(time)};
  if (!ReadInputFile(uninstaller, kMaxPartBytes, &bytes, error)) return false;
  if (!WriteFileAtomically(path, bytes, 0644) || utime(path.c_str(), &times) != 0) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

class PackageBuilder {
 public:
  explicit PackageBuilder(const PackageBuildOptions& options) : options_(options) {}

  bool Build(std::string* error) {
    if (!CheckOutputPath(options_.out, error)) return false;
    if (!options_.stage.empty() && !CheckStage(options_.stage, error)) return false;
    if (!FindPrebuiltParts(options_.parts, &parts_, error)) return false;
    if (!LoadShippedLanguages(parts_, &shipped_, error)) return false;
    if (!LoadPackageDescription(options_.description, options_.payload, shipped_, &description_, error))
      return false;
    for (const std::string& warning : description_.warnings) std::fprintf(stderr, "kxpack: %s\n", warning.c_str());
    // Again, now that the description named the pages and the payload.
    if (!CheckOutputPath(options_.out, error)) return false;
    if (scratch_.path.empty()) {
      *error = "cannot create a temporary folder";
      return false;
    }
    const std::string uninstaller = scratch_.path + "/Uninst.exe";
    const std::string setup = scratch_.path + "/setup.exe";
    const std::string uninstRuntime = scratch_.path + "/runtime-uninst";
    const std::string setupRuntime = scratch_.path + "/runtime-setup";
    const std::string data = PackageDataText(description_);
    const std::vector<unsigned char> dataBytes(data.begin(), data.end());

    std::vector<StagedFile> uninstFiles = {{kxformat::kProgramLibraryFile, Part(kProgramLibraryPart), {}},
                                           {kxformat::kCoreLibraryFile, Part(kCoreLibraryPart), {}}};
    AddLanguageTables(&uninstFiles);
    uninstFiles.push_back({kxformat::kDialogsFile, Part(kUninstallerDialogsPart), {}});
    AddWizardImages(kxformat::kHeaderImageFile, description_.header, &uninstFiles);
    uninstFiles.push_back({kxformat::kPackageDataFile, "", dataBytes});
    if (!StageRuntime(uninstRuntime, uninstFiles, error) ||
        !MakeProgram(ProgramRole::kUninstaller, kUninstallerStubPart, "", uninstRuntime, uninstaller, error))
      return false;

    std::vector<StagedFile> setupFiles = {{kxformat::kProgramLibraryFile, Part(kProgramLibraryPart), {}},
                                          {kxformat::kCoreLibraryFile, Part(kCoreLibraryPart), {}}};
    AddLanguageTables(&setupFiles);
    setupFiles.insert(setupFiles.end(), {{kxformat::kDialogsFile, Part(kSetupDialogsPart), {}},
                                         {kxformat::kFilePropertiesFile, Part(kFilePropertiesPart), {}}});
    // The pages are named after the language table's name (SELLANG).
    for (const PackageLanguage& language : description_.languages) {
      setupFiles.push_back({"kxwelc" + language.table.name + ".rtf", "", language.welcome});
      setupFiles.push_back({"kxlic" + language.table.name + ".rtf", "", language.licence});
      setupFiles.push_back({"kxfin" + language.table.name + ".rtf", "", language.finish});
    }
    AddWizardImages(kxformat::kHeaderImageFile, description_.header, &setupFiles);
    AddWizardImages(kxformat::kWatermarkImageFile, description_.watermark, &setupFiles);
    std::vector<unsigned char> uninstallerBytes, setupStub;
    std::vector<std::vector<unsigned char>> libraries(2);
    // The setup's stub as its program will have it, with the package's
    // resources: the icon's section is compared too.
    if (!ReadInputFile(uninstaller, kMaxPartBytes, &uninstallerBytes, error) ||
        !ReadInputFile(Part(kSetupStubPart), kMaxPartBytes, &setupStub, error) ||
        !MakePackageStub(description_, ProgramRole::kSetup, &setupStub, error) ||
        !ReadInputFile(Part(kCoreLibraryPart), kMaxPartBytes, &libraries[0], error) ||
        !ReadInputFile(Part(kProgramLibraryPart), kMaxPartBytes, &libraries[1], error))
      return false;
    setupFiles.insert(setupFiles.end(),
                      {{kxformat::kUninstallerFile, "",
                        WithoutLoader(WithoutLibraries(std::move(uninstallerBytes), libraries), setupStub)},
                       {kxformat::kPackageDataFile, "", dataBytes}});
    if (!StageRuntime(setupRuntime, setupFiles, error) ||
        !MakeProgram(ProgramRole::kSetup, kSetupStubPart, description_.payloadFolder, setupRuntime, setup, error))
      return false;

    if (!options_.stage.empty() &&
        (!KeepStage(uninstRuntime, options_.stage + "/" + kStageFolders[0], error) ||
         !KeepStage(setupRuntime, options_.stage + "/" + kStageFolders[1], error) ||
         !KeepWholeUninstaller(uninstaller, options_.stage + "/" + kStageFolders[1], error)))
      return false;
    std::vector<unsigned char> bytes;
    if (!ReadFile(setup, &bytes)) {
      *error = "cannot read back " + setup;
      return false;
    }
    return WriteOutputFile(options_.out, bytes, error);
  }

 private:
  std::string Part(const char* name) const { return parts_ + "/" + name; }

  // Each scale of a wizard image under its name (base/package_format.h):
  // "kxwaterm.bmp" at 100 %, "kxwaterm200.bmp" at 200 %.
  static void AddWizardImages(const std::string& name, const std::vector<ScaledImage>& images,
                              std::vector<StagedFile>* files) {
    const std::string stem = name.substr(0, name.rfind('.'));
    for (const ScaledImage& image : images)
      files->push_back({image.percent == 100 ? name : stem + std::to_string(image.percent) + ".bmp", "", image.bitmap});
  }

  // The English table, which every package carries (a key a translation
  // lacks falls back to it), and the table of every other language offered;
  // kxpack's own keys are left out of them.
  void AddLanguageTables(std::vector<StagedFile>* files) const {
    files->push_back({kxformat::kLanguageTableFile, "", shipped_.front().table});
    for (const PackageLanguage& language : description_.languages)
      if (language.table.id != kEnglishLanguageId)
        files->push_back({language.table.runtimeFile, "", language.table.table});
  }

  bool MakeProgram(ProgramRole role, const char* stubPart, const std::string& payload, const std::string& runtime,
                   const std::string& out, std::string* error) {
    ProgramInputs inputs;
    inputs.stubName = Part(stubPart);
    inputs.payload = payload;
    inputs.runtime = runtime;
    inputs.solidBlockBytes = options_.solidBlockBytes;
    inputs.sign = options_.sign;
    inputs.nested = role == ProgramRole::kUninstaller;
    if (!ReadInputFile(inputs.stubName, kMaxPartBytes, &inputs.stub, error)) return false;
    if (inputs.stub.empty()) {
      *error = inputs.stubName + " is empty";
      return false;
    }
    return MakePackageStub(description_, role, &inputs.stub, error) && BuildProgram(inputs, out, error) &&
           CompleteProgram(description_, role, out, error) && VerifyProgramFile(out, error);
  }

  const PackageBuildOptions& options_;
  PackageDescription description_;
  ShippedLanguages shipped_;
  std::string parts_;
  TempFolder scratch_;
};

}  // namespace

int BuildPackage(const PackageBuildOptions& options) {
  if (options.description.empty() || options.out.empty()) {
    std::cerr << "kxpack: build --package needs --out\n";
    return 1;
  }
  std::string error;
  if (PackageBuilder(options).Build(&error)) return 0;
  std::string text = error;
  for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 9) text.replace(at, 1, "\nkxpack: ");
  std::cerr << "kxpack: " << text << "\n";
  if (RemoveStaleOutput(options.out)) std::cerr << "kxpack: removed the previous " << options.out << "\n";
  return 1;
}
