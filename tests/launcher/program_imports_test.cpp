// The DLLs setup.exe and Uninst.exe import statically: Windows resolves them
// before any of our code runs, so only KnownDLLs whose own imports are safe
// under Wine too may be there; everything else is delay-loaded from the
// system folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_files.h"

using namespace kxtest;

namespace {

std::vector<std::string> StaticImports(const std::wstring& program) {
  std::vector<std::string> names;
  HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return names;
  // The handle of an image loaded as a resource has its low bits set.
  const BYTE* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(module) & ~ULONG_PTR{3});
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress) {
    for (const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name; ++entry) {
      std::string name = reinterpret_cast<const char*>(base + entry->Name);
      std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(tolower(c)); });
      names.push_back(name);
    }
  }
  FreeLibrary(module);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(ProgramImports, BothProgramsImportOnlyKernel32Advapi32AndMsvcrt) {
  const std::vector<std::string> allowed = {"advapi32.dll", "kernel32.dll", "msvcrt.dll"};
  const std::wstring out = TestDataPath("KX_TEST_OUT");
  for (const wchar_t* program : {L"\\setup.exe", L"\\Uninst.exe"}) {
    std::vector<std::string> imports = StaticImports(out + program);
    ASSERT_FALSE(imports.empty()) << Narrow(program);
    for (const std::string& name : imports)
      EXPECT_TRUE(std::find(allowed.begin(), allowed.end(), name) != allowed.end()) << Narrow(program) << ": " << name;
  }
}
