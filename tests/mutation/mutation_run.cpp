#include "tests/mutation/mutation_run.h"

#include <windows.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "tests/mutation/byte_mutator.h"
#include "tests/mutation/guarded_input.h"
#include "tests/support/test_files.h"

namespace kxmutation {

namespace {

unsigned long long EnvNumber(const char* name, unsigned long long fallback) {
  const char* text = getenv(name);
  return text && *text ? strtoull(text, nullptr, 10) : fallback;
}

std::wstring Widen(const std::string& text) {
  std::wstring wide;
  for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

// The environment names Linux paths (the build tree).
std::wstring FolderOf(const char* value) { return kxtest::FromUnixPath(value); }

std::wstring OutputFolder() {
  const char* out = getenv("KX_MUTATION_OUT");
  if (out && *out) return FolderOf(out);
  wchar_t temp[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return L".";
  if (temp[length - 1] == L'\\') temp[length - 1] = L'\0';
  return temp;
}

}  // namespace

std::string ReadWholeFile(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

std::vector<std::string> ReadFolderFiles(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> files;
  for (const std::wstring& name : names)
    if (name != L"README.md") files.push_back(ReadWholeFile(folder + L"\\" + name));
  return files;
}

MutationFigures RunMutations(const MutationTarget& target) {
  MutationFigures figures;
  InstallFaultKeeper(OutputFolder());
  GuardedInput guarded(target.maxSize);
  if (!guarded.valid() || target.seeds.empty()) {
    ADD_FAILURE() << target.name << ": no guarded buffer or no seeds";
    figures.failed = true;
    return figures;
  }
  const unsigned long long runs = EnvNumber("KX_MUTATION_RUNS", 20000);
  const unsigned long long seconds = EnvNumber("KX_MUTATION_SECONDS", 0);
  const unsigned long long first = EnvNumber("KX_MUTATION_FIRST", 0);
  const ULONGLONG start = GetTickCount64();

  auto checkOne = [&](const std::string& input, unsigned long long run) {
    BeginRun(target.name, run, input);
    const char* placed = guarded.Place(input);
    bool accepted = false;
    const bool right = target.check(placed, input.size(), &accepted);
    EndRun();
    if (accepted) ++figures.accepted;
    if (!right) {
      figures.failed = true;
      ADD_FAILURE() << target.name << ": wrong result for run " << run << " (KX_MUTATION_FIRST=" << run
                    << " KX_MUTATION_RUNS=1 repeats it)";
    }
  };

  // The seeds and the kept inputs exactly as they are.
  const char* regressions = getenv("KX_MUTATION_REGRESSIONS");
  std::vector<std::string> kept = target.seeds;
  if (regressions && *regressions) {
    for (const std::string& input : ReadFolderFiles(FolderOf(regressions) + L"\\" + Widen(target.name))) {
      kept.push_back(input);
      ++figures.regressions;
    }
  }
  for (const std::string& input : kept) checkOne(input, 0);

  for (unsigned long long run = first; run < first + runs && !figures.failed; ++run) {
    if (seconds && (run & 255) == 0 && GetTickCount64() - start > seconds * 1000) break;
    ByteMutator mutator(run, target.tokens);
    std::string input = target.seeds[mutator.Below(target.seeds.size())];
    mutator.Mutate(&input, target.seeds, target.maxSize);
    if (target.reshape) target.reshape(&input, run);
    checkOne(input, run);
    ++figures.runs;
  }
  figures.seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
  printf("%s: %llu mutated inputs, %llu accepted, %llu regression inputs, %.1f s, %s\n", target.name, figures.runs,
         figures.accepted, figures.regressions, figures.seconds, figures.failed ? "FAILED" : "no fault");
  return figures;
}

}  // namespace kxmutation
