// Runtime unpacking: what lands in the runtime folder, and every refusal.
#include <gtest/gtest.h>

#include "base/path_services.h"
#include "launcher/runtime_folder.h"
#include "tests/launcher/synthetic_image.h"
#include "tests/support/fake_core.h"
#include "tests/support/seven_zip_writer.h"
#include "tests/support/test_files.h"

// Names the result in failure messages.
void PrintTo(RuntimeUnpackResult result, std::ostream* out) {
  static const char* const kNames[] = {"kUnpacked", "kArchiveUnreadable", "kUnsafeName",
                                       "kDamaged",  "kOutOfMemory",       "kNotWritten"};
  *out << kNames[static_cast<int>(result)];
}

using namespace kxtest;

namespace {

class RuntimeUnpack : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFake();
    runtime = folder / L"runtime\\";
    ASSERT_TRUE(CreateDirectoryW(runtime.c_str(), nullptr));
    wcscpy(g_runtimePath, runtime.c_str());
    g_runtimePathLength = runtime.size();
  }

  // Packs the runtime archive behind a payload and unpacks it.
  RuntimeUnpackResult Unpack(const std::string& runtimeArchive) {
    std::string payload = BuildSevenZip({ArchiveItem::File(L"p.txt", "payload")});
    std::string image = SyntheticImage({{0x400, 0x800}});
    std::string file = image + ContainerHeader(payload.size(), 1) + payload + runtimeArchive;
    std::wstring path = folder / L"setup.exe";
    EXPECT_TRUE(WriteBytes(path, file));
    ContainerInfo container = {static_cast<uint32_t>(image.size()), payload.size(), 1};
    RuntimeUnpackResult result = UnpackRuntimeArchive(path.c_str(), container);
    EXPECT_EQ(runtime, std::wstring(g_runtimePath)) << "the buffer names the runtime folder again";
    return result;
  }

  ScratchFolder folder;
  std::wstring runtime;
};

}  // namespace

TEST_F(RuntimeUnpack, WritesEveryEntryWithItsFoldersAndLogsNothing) {
  EXPECT_EQ(RuntimeUnpackResult::kUnpacked,
            Unpack(BuildSevenZip({ArchiveItem::File(L"a/b/c.txt", "deep"), ArchiveItem::File(L"d.txt", "top"),
                                  ArchiveItem::File(L"empty.dat", ""), ArchiveItem::Folder(L"a/b")})));
  EXPECT_EQ("deep", ReadBytes(runtime + L"a\\b\\c.txt"));
  EXPECT_EQ("top", ReadBytes(runtime + L"d.txt"));
  EXPECT_TRUE(FileExists(runtime + L"empty.dat"));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"d.txt", L"empty.dat"}), ListFolder(runtime));
  EXPECT_TRUE(Fake().log.empty());
}

TEST_F(RuntimeUnpack, ABackslashInAnEntryNameSeparatesLevelsAsInThePayload) {
  // Windows reads the backslash as a separator whatever the archive meant,
  // so its folders must be made as for '/'; both kinds may mix in one name.
  EXPECT_EQ(RuntimeUnpackResult::kUnpacked,
            Unpack(BuildSevenZip({ArchiveItem::File(L"lang\\en\\texts.rtf", "text"),
                                  ArchiveItem::File(L"images/big\\logo.bmp", "logo")})));
  EXPECT_EQ("text", ReadBytes(runtime + L"lang\\en\\texts.rtf"));
  EXPECT_EQ("logo", ReadBytes(runtime + L"images\\big\\logo.bmp"));
  EXPECT_EQ((std::vector<std::wstring>{L"images", L"lang"}), ListFolder(runtime));
}

TEST_F(RuntimeUnpack, AnEmptyArchiveLeavesAnEmptyFolder) {
  ArchiveOptions emptyHeader;
  emptyHeader.headerWhenEmpty = true;
  EXPECT_EQ(RuntimeUnpackResult::kUnpacked, Unpack(BuildSevenZip({}, emptyHeader)));
  EXPECT_TRUE(ListFolder(runtime).empty());
}

TEST_F(RuntimeUnpack, RefusesToWriteOverAnythingAndStopsThere) {
  EXPECT_EQ(RuntimeUnpackResult::kNotWritten,
            Unpack(BuildSevenZip({ArchiveItem::File(L"same.txt", "first"), ArchiveItem::File(L"same.txt", "second"),
                                  ArchiveItem::File(L"later.txt", "never")})));
  EXPECT_EQ("first", ReadBytes(runtime + L"same.txt"));
  EXPECT_FALSE(FileExists(runtime + L"later.txt"));
}

TEST_F(RuntimeUnpack, RefusesNamesThatLeaveTheRuntimeFolderOrNameADevice) {
  // A damaged or hostile package, not a local write failure: corrupted data.
  for (const wchar_t* name : {L"../escaped.txt", L"a/../../escaped.txt", L"a\\..\\..\\escaped.txt", L"C:\\escaped.txt",
                              L"\\escaped.txt",
                              L"NUL", L"COM1", L"sub/CON.txt", L"aux .dat"}) {
    EXPECT_EQ(RuntimeUnpackResult::kUnsafeName, Unpack(BuildSevenZip({ArchiveItem::File(name, "x")}))) << name;
  }
  EXPECT_FALSE(FileExists(folder / L"escaped.txt"));
  EXPECT_TRUE(ListFolder(runtime).empty());
}

TEST_F(RuntimeUnpack, RefusesANameOf260UnitsOrMore) {
  std::wstring longName = std::wstring(150, L'd') + L"/" + std::wstring(109, L'f');  // 260 with its zero
  EXPECT_EQ(RuntimeUnpackResult::kNotWritten, Unpack(BuildSevenZip({ArchiveItem::File(longName, "x")})));
  EXPECT_TRUE(ListFolder(runtime).empty());
}

TEST_F(RuntimeUnpack, AnUnsupportedMethodIsADamagedArchive) {
  // Not memory or disk trouble of this machine: the launcher reports it as
  // corrupted data.
  ArchiveOptions ppmd;
  ppmd.coderId = 0x030401;
  EXPECT_EQ(RuntimeUnpackResult::kDamaged,
            Unpack(BuildSevenZip({ArchiveItem::File(L"KXCore64.dll", "not really")}, ppmd)));
}

TEST_F(RuntimeUnpack, ACrcErrorIsADamagedArchive) {
  std::string archive = BuildSevenZip({ArchiveItem::File(L"x.bin", "0123456789")});
  archive[kSevenZipDataOffset + 3] ^= 0x20;
  EXPECT_EQ(RuntimeUnpackResult::kDamaged, Unpack(archive));
  EXPECT_FALSE(FileExists(runtime + L"x.bin"));
}

TEST_F(RuntimeUnpack, AMissingOrBrokenRuntimeArchiveIsUnreadable) {
  EXPECT_EQ(RuntimeUnpackResult::kArchiveUnreadable, Unpack("no archive here, just some trailing bytes"));
  std::string archive = BuildSevenZip({ArchiveItem::File(L"x.bin", "0123456789")});
  archive.resize(archive.size() - 4);  // header cut short
  EXPECT_EQ(RuntimeUnpackResult::kArchiveUnreadable, Unpack(archive));
}

TEST_F(RuntimeUnpack, CreateRuntimeFolderMakesAFreshKxFolder) {
  std::wstring parent = folder / L"temp\\";
  ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
  wcscpy(g_runtimePath, parent.c_str());
  g_runtimePathLength = parent.size();
  ASSERT_TRUE(CreateRuntimeFolder());
  std::wstring created = g_runtimePath;
  ASSERT_EQ(parent.size() + 11, created.size());
  EXPECT_EQ(L'\\', created.back());
  EXPECT_EQ(L"kx", created.substr(parent.size(), 2));
  for (size_t i = parent.size() + 2; i < created.size() - 1; ++i)
    EXPECT_TRUE(iswdigit(created[i]) || (created[i] >= L'A' && created[i] <= L'F')) << created;
  EXPECT_TRUE(FolderExists(created));

  // A second folder gets another name.
  g_runtimePath[parent.size()] = L'\0';
  g_runtimePathLength = parent.size();
  ASSERT_TRUE(CreateRuntimeFolder());
  EXPECT_NE(created, std::wstring(g_runtimePath));
}
