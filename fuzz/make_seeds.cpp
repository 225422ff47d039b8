// Writes the generated part of the seed corpora: packages composed by
// kxpack's own writer, the artwork kxpack draws for starters, and uninstall
// logs written by the core library's own log writer.
//   make_seeds DIR   (DIR/<target>/ must exist)
#include <cstdio>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/container_format.h"
#include "base/crc32.h"
#include "core/uninstall_log_format.h"
#include "tools/kxpack/artwork.h"
#include "tools/kxpack/container_file.h"
#include "tools/kxpack/file_io.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The smallest PE32+ image the readers accept: one section whose raw data
// ends at 0x600.
Bytes SyntheticStub() {
  Bytes b(0x600, 0);
  b[0] = 'M';
  b[1] = 'Z';
  kxbytes::WriteU32(&b[0x3C], 0x80);
  kxbytes::WriteU32(&b[0x80], 0x00004550);
  kxbytes::WriteU16(&b[0x84], 0x8664);
  kxbytes::WriteU16(&b[0x86], 1);
  kxbytes::WriteU16(&b[0x94], 240);
  kxbytes::WriteU16(&b[0x98], 0x20B);
  const size_t section = 0x80 + kxformat::kSectionTableDistance;
  kxbytes::WriteU32(&b[section + 16], 0x200);
  kxbytes::WriteU32(&b[section + 20], 0x400);
  return b;
}

// A 7z archive's start header (signature, version, CRC) and `extra` bytes.
Bytes Archive(size_t extra, unsigned char fill) {
  Bytes a(kxformat::kSevenZipStartHeaderSize, 0);
  for (size_t i = 0; i < sizeof kxformat::kSevenZipSignature; ++i) a[i] = kxformat::kSevenZipSignature[i];
  a[7] = 4;
  kxbytes::WriteU64(&a[kxformat::kNextHeaderOffsetField], extra);
  kxbytes::WriteU32(&a[kxformat::kStartHeaderCrcField],
                    kxcrc::Crc32(&a[kxformat::kStartHeaderCrcFrom],
                                 kxformat::kSevenZipStartHeaderSize - kxformat::kStartHeaderCrcFrom));
  a.insert(a.end(), extra, fill);
  return a;
}

uint32_t Crc(const void* data, size_t size) { return kxcrc::Crc32(data, size); }

struct LogRecord {
  int kind;  // 0 file, 1 folder, 2 registry key, 3 registry value
  std::u16string text;
};

// An uninstall log as an installation writes it.
Bytes UninstallLog(const std::vector<LogRecord>& records) {
  std::string out;
  kxcore::AppendLogHeader(&out);
  for (const LogRecord& record : records) kxcore::AppendLogRecord(record.kind, record.text, &out);
  kxcore::AppendLogTrailer(records.size(), Crc, &out);
  return Bytes(out.begin(), out.end());
}

// What a Quillmark installation records, in its order: the folders on the
// way, the files, the Start-menu entry, the uninstall key and its values,
// the uninstaller and the log.
std::vector<LogRecord> QuillmarkInstallation(const std::u16string& folder) {
  const std::u16string key = u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmark Toolkit812953";
  const std::u16string menu = u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quillmark Toolkit";
  return {
      {1, folder},
      {1, folder + u"\\docs"},
      {0, folder + u"\\quillmark.exe"},
      {0, folder + u"\\docs\\README.txt"},
      {1, menu},
      {0, menu + u"\\Quillmark Toolkit.lnk"},
      {3, u"\"" + key + u"\" \"DisplayName\""},
      {3, u"\"" + key + u"\" \"UninstallString\""},
      {2, key},
      {0, folder + u"\\Uninst.exe"},
      {0, folder + u"\\Uninst.dat"},
  };
}

bool Write(const std::string& path, const Bytes& bytes) {
  if (WriteFileAtomically(path, bytes, 0644)) return true;
  std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = Write(dir + "/container_layout_fuzz/package", ComposePackage(SyntheticStub(), Archive(40, 0x11), Archive(60, 0x22)));
  ok &= Write(dir + "/container_layout_fuzz/uninstaller", ComposePackage(SyntheticStub(), {}, Archive(30, 0x33)));
  ok &= Write(dir + "/pe_resources_fuzz/synthetic-stub", SyntheticStub());
  ok &= Write(dir + "/artwork_fuzz/watermark.bmp", DrawWatermark());
  ok &= Write(dir + "/artwork_fuzz/header.bmp", DrawHeader());
  ok &= Write(dir + "/artwork_fuzz/app.ico", DrawIcon());
  ok &= Write(dir + "/uninstall_log_fuzz/quillmark", UninstallLog(QuillmarkInstallation(u"C:\\Program Files\\Quillmark")));
  ok &= Write(dir + "/uninstall_log_fuzz/share", UninstallLog(QuillmarkInstallation(u"\\\\server\\share\\Apps\\Quill")));
  // Texts the writer must escape or encode: '%', TAB, CR, LF, letters beyond
  // ASCII and beyond the BMP, an unpaired surrogate.
  ok &= Write(dir + "/uninstall_log_fuzz/awkward",
              UninstallLog({{1, u"D:\\Q"},
                            {0, u"D:\\Q\\100% sure\tname\r\n.txt"},
                            {0, u"D:\\Q\\\u00e9t\u00e9 \u6587\u5b57 \U0001F600 %25.txt"},
                            {0, u"D:\\Q\\lone \xD800 half"},
                            {2, u"HKLM\\Software\\Q"}}));
  ok &= Write(dir + "/uninstall_log_fuzz/empty", UninstallLog({}));
  return ok ? 0 : 1;
}
