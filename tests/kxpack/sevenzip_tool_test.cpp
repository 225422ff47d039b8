// The payload archive's layout: the same bytes whatever the number of
// threads, data that does not compress stored, every entry exactly once.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tools/kxpack/sevenzip_tool.h"

namespace fs = std::filesystem;

namespace {

// A fixed-seed generator: the same data on every run.
struct Generator {
  uint64_t state;
  uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
};

// Whole seconds: 7z keeps times to 100 ns.
void WriteFile(const fs::path& path, const std::string& bytes, int hours = 420000) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  fs::last_write_time(path, fs::file_time_type(std::chrono::hours(hours)));
}

std::string Text(Generator* g, size_t size) {
  static const char* kWords[] = {"setup ", "folder ", "payload ", "block ", "stream ", "restart\n", "archive "};
  std::string text;
  while (text.size() < size) text += kWords[g->Next() % 7];
  return text;
}

std::string Noise(Generator* g, size_t size) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(g->Next());
  return bytes;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PayloadArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kxpack-archive.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    work_ = pattern;
    payload_ = work_ / "payload";
    Generator g{12};
    // 1.5 MiB of text in blocks of 512 KiB: LZMA2 blocks of 256 KiB, so
    // several threads have work.
    for (int i = 0; i < 6; ++i) WriteFile(payload_ / "text" / ("part" + std::to_string(i) + ".txt"), Text(&g, 256 << 10));
    WriteFile(payload_ / "media" / "noise.bin", Noise(&g, 300 << 10), 400000);
    WriteFile(payload_ / "media" / "half.bin", Noise(&g, 200 << 10) + Text(&g, 200 << 10));
    WriteFile(payload_ / "empty.txt", "");
    fs::create_directories(payload_ / "empty folder");
  }
  void TearDown() override { fs::remove_all(work_); }

  std::string Build(const std::string& name, unsigned threads) {
    std::string path = (work_ / name).string(), error;
    EXPECT_TRUE(CreateArchive(ArchiveKind::Payload, payload_.string(), path, 512 << 10, &error, threads)) << error;
    return ReadAll(path);
  }

  fs::path work_, payload_;
};

TEST_F(PayloadArchive, SameBytesWhateverTheThreads) {
  std::string one = Build("one.7z", 1);
  ASSERT_GT(one.size(), 1000u);
  EXPECT_EQ(one, Build("two.7z", 2));
  EXPECT_EQ(one, Build("four.7z", 4));
}

TEST_F(PayloadArchive, StoresOnlyWhatDoesNotCompressAndKeepsEveryEntry) {
  Build("mixed.7z", 2);
  std::vector<ArchiveEntry> entries;
  std::string error;
  ASSERT_TRUE(ListArchive((work_ / "mixed.7z").string(), &entries, &error)) << error;
  std::map<std::string, std::string> methods;
  for (const ArchiveEntry& entry : entries) EXPECT_TRUE(methods.emplace(entry.path, entry.method).second) << entry.path;
  EXPECT_EQ(methods.size(), 12u);  // 9 files, 3 folders
  EXPECT_EQ(methods["media/noise.bin"], "Copy");
  EXPECT_NE(methods["media/half.bin"].find("LZMA2"), std::string::npos);
  EXPECT_NE(methods["text/part0.txt"].find("LZMA2"), std::string::npos);

  // What 7-Zip unpacks is what went in, times included.
  fs::path out = work_ / "out";
  ASSERT_EQ(RunProgram({"7zz", "x", "-y", "-o" + out.string(), (work_ / "mixed.7z").string()}, "", ""), 0);
  for (const auto& item : fs::recursive_directory_iterator(payload_)) {
    fs::path copy = out / item.path().lexically_relative(payload_);
    ASSERT_TRUE(fs::exists(copy)) << copy;
    if (!item.is_regular_file()) continue;
    EXPECT_EQ(ReadAll(item.path()), ReadAll(copy)) << copy;
    EXPECT_EQ(fs::last_write_time(item.path()), fs::last_write_time(copy)) << copy;
  }
}

TEST(LooksIncompressible, OnlyWhenEverySampleIsNoise) {
  char pattern[] = "/tmp/kxpack-sample.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  fs::path folder = pattern;
  Generator g{7};
  WriteFile(folder / "noise", Noise(&g, 1 << 20));
  WriteFile(folder / "tail", Noise(&g, 1 << 20) + Text(&g, 128 << 10));
  EXPECT_TRUE(LooksIncompressible((folder / "noise").string(), 1 << 20));
  EXPECT_FALSE(LooksIncompressible((folder / "tail").string(), fs::file_size(folder / "tail")));
  EXPECT_FALSE(LooksIncompressible((folder / "missing").string(), 1 << 20));
  fs::remove_all(folder);
}

}  // namespace
