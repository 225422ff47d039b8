// Writes the generated part of the seed corpora: packages composed by
// kxpack's own writer, the artwork kxpack draws for starters, the package
// data it writes, PNG images of the wizard's sizes (by libpng), uninstall logs
// written by the core library's own log writer, and small 7z archives in
// each layout kxpack writes (and two more the programs decode), made by
// kxpack's 7-Zip runner from a small folder.
//   make_seeds DIR   (DIR/<target>/ must exist)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <png.h>

#include "base/byte_order.h"
#include "base/container_format.h"
#include "base/crc32.h"
#include "core/uninstall_log_format.h"
#include "tools/kxpack/artwork.h"
#include "tools/kxpack/container_file.h"
#include "tools/kxpack/file_io.h"
#include "tools/kxpack/package_data_file.h"
#include "tools/kxpack/sevenzip_tool.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A PNG of the given size in a format of libpng's simplified interface
// (PNG_FORMAT_RGBA, PNG_FORMAT_GRAY, ...): a gradient, with a transparent
// left edge when the format has alpha.
Bytes Png(int width, int height, png_uint_32 format) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = format;
  const int channels = PNG_IMAGE_PIXEL_CHANNELS(format);
  Bytes pixels(static_cast<size_t>(width) * height * channels);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 7 / channels);
  if (format & PNG_FORMAT_FLAG_ALPHA)
    for (int y = 0; y < height; ++y) pixels[static_cast<size_t>(y) * width * channels + channels - 1] = 0;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(image, size, 0, pixels.data(), 0, nullptr)) return {};
  Bytes out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

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

// A small installation's files: machine code the x86 filter converts, text,
// an empty file, nested and empty folders. The same bytes every time.
bool WriteSmallInstallation(const std::string& folder) {
  std::string code;
  uint32_t state = 1201;
  while (code.size() < 1500) {
    state = state * 1103515245u + 12345u;
    const unsigned char pick = static_cast<unsigned char>(state >> 24);
    if (pick < 80) {
      code += static_cast<char>(pick & 1 ? 0xE8 : 0xE9);
      for (int i = 0; i < 4; ++i) code += static_cast<char>(state >> (8 * i));
    } else {
      code += "\x48\x89\xC3\x90\x55\x5D"[pick % 6];
    }
  }
  const std::string files[][2] = {
      {"bin/app.exe", code},
      {"docs/readme.txt", "Quillmark Toolkit.\n" + std::string(300, 'q')},
      {"docs/notes/sub.txt", "stream block folder setup\n"},
      {"empty.dat", ""},
  };
  std::error_code ignored;
  for (const char* sub : {"/bin", "/docs/notes", "/cache"})
    if (!std::filesystem::create_directories(folder + sub, ignored) && ignored) return false;
  for (const auto& file : files) {
    std::ofstream out(folder + "/" + file[0], std::ios::binary);
    out << file[1];
    if (!out) return false;
  }
  return true;
}

// The archives: as kxpack writes a payload (BCJ and LZMA2 in small solid
// blocks), a runtime (LZMA with BCJ2, decoded whole) and a nested runtime
// (Copy); and with 7-Zip's plain headers, LZMA with BCJ and LZMA2 alone.
bool WriteArchives(const std::string& dir, const std::string& scratch) {
  const std::string input = scratch + "/input";
  if (!WriteSmallInstallation(input)) return false;
  std::string error;
  const struct {
    const char* name;
    ArchiveKind kind;
  } made[] = {{"payload.7z", ArchiveKind::Payload}, {"runtime.7z", ArchiveKind::Runtime},
              {"nested.7z", ArchiveKind::NestedRuntime}};
  for (const auto& archive : made) {
    if (!CreateArchive(archive.kind, input, dir + "/archive_fuzz/" + archive.name, 1024, &error, 1)) {
      std::fprintf(stderr, "make_seeds: %s\n", error.c_str());
      return false;
    }
  }
  const char* program = getenv("KX_7ZZ") && *getenv("KX_7ZZ") ? getenv("KX_7ZZ") : "7zz";
  const std::vector<std::string> plain[] = {
      {"-mf=BCJ", "-m0=LZMA:d=64k", "-ms=on", "-mhc=off", "--", dir + "/archive_fuzz/lzma-bcj-plain.7z", "*"},
      {"-mf=off", "-m0=LZMA2:d=64k", "-ms=2k", "-mhc=off", "--", dir + "/archive_fuzz/lzma2-plain.7z", "*"},
      // For the header reader: a block a file and no times (plain header),
      // and a compressed header over blocks of two files.
      {"-m0=Copy", "-ms=off", "-mtm=off", "-mhc=off", "--", dir + "/archive_header_fuzz/copy-no-times.7z", "*"},
      {"-mf=off", "-m0=LZMA:d=64k", "-ms=2f", "--", dir + "/archive_header_fuzz/lzma-two-a-block.7z", "*"},
  };
  for (const auto& switches : plain) {
    std::vector<std::string> arguments = {program, "a", "-t7z", "-bd", "-y", "-mmt1"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    if (RunProgram(arguments, input, "") != 0) {
      std::fprintf(stderr, "make_seeds: 7-Zip could not write %s\n", switches[switches.size() - 2].c_str());
      return false;
    }
  }
  return true;
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
  ok &= Write(dir + "/artwork_fuzz/header-200.bmp", DrawHeader(200));
  // PNGs at the header's sizes: small, so that a mutation decodes quickly.
  ok &= Write(dir + "/artwork_fuzz/header-rgba.png", Png(kHeaderWidth, kHeaderHeight, PNG_FORMAT_RGBA));
  ok &= Write(dir + "/artwork_fuzz/header-gray.png", Png(kHeaderWidth, kHeaderHeight, PNG_FORMAT_GRAY));
  ok &= Write(dir + "/artwork_fuzz/header-125-rgb.png", Png(ScaledSide(kHeaderWidth, 125), ScaledSide(kHeaderHeight, 125), PNG_FORMAT_RGB));
  ok &= Write(dir + "/artwork_fuzz/app.ico", DrawIcon());
  PackageDescription values;
  values.name = "Quillmark Toolkit";
  values.version = "2020.01.15.01";
  values.publisher = "Quillmark, LLC";
  values.url = "https://www.quillmark.example";
  values.uninstallKey = "Quillmark Toolkit812953";
  values.program = "bin\\tool.exe";
  const std::string data = PackageDataText(values);
  ok &= Write(dir + "/package_data_fuzz/kxpackage.dat", Bytes(data.begin(), data.end()));
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

  TempFolder scratch;
  ok &= !scratch.path.empty() && WriteArchives(dir, scratch.path);
  // A package around real archives, as kxpack composes one.
  Bytes payload, runtime;
  if (ok && ReadFile(dir + "/archive_fuzz/payload.7z", &payload) && ReadFile(dir + "/archive_fuzz/nested.7z", &runtime))
    ok &= Write(dir + "/container_layout_fuzz/real-archives", ComposePackage(SyntheticStub(), payload, runtime));
  return ok ? 0 : 1;
}
