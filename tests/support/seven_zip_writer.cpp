#include "tests/support/seven_zip_writer.h"

#include "base/byte_order.h"
#include "base/crc32.h"

namespace kxtest {
namespace {

enum PropertyId : unsigned char {
  kEnd = 0x00,
  kHeader = 0x01,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kName = 0x11,
  kMTime = 0x14,
  kWinAttributes = 0x15
};

uint32_t Crc32(const std::string& data) { return kxcrc::Crc32(data.data(), data.size()); }

void PutByte(std::string* out, unsigned value) { out->push_back(static_cast<char>(value & 0xFF)); }

void PutLe(std::string* out, uint64_t value, int bytes) { kxbytes::AppendLe(out, value, static_cast<size_t>(bytes)); }

// The 7z variable-length number.
void PutNumber(std::string* out, uint64_t value) {
  unsigned first = 0;
  unsigned mask = 0x80;
  int extra = 0;
  for (; extra < 8; ++extra) {
    if (value < (uint64_t{1} << (7 * (extra + 1)))) {
      first |= static_cast<unsigned>(value >> (8 * extra));
      break;
    }
    first |= mask;
    mask >>= 1;
  }
  PutByte(out, first);
  for (int i = 0; i < extra; ++i) PutByte(out, static_cast<unsigned>(value >> (8 * i)));
}

std::string BitField(const std::vector<bool>& bits) {
  std::string out((bits.size() + 7) / 8, '\0');
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) out[i / 8] = static_cast<char>(out[i / 8] | (0x80 >> (i % 8)));
  return out;
}

void PutProperty(std::string* out, PropertyId id, const std::string& body) {
  PutByte(out, id);
  PutNumber(out, body.size());
  out->append(body);
}

// A "defined" vector: all-defined byte or bit field, external byte, values.
template <typename Value>
std::string DefinedValues(const std::vector<ArchiveItem>& items, bool ArchiveItem::*has, Value ArchiveItem::*value,
                          int width) {
  std::vector<bool> defined;
  bool all = true;
  for (const ArchiveItem& item : items) {
    defined.push_back(item.*has);
    all = all && item.*has;
  }
  std::string body;
  PutByte(&body, all ? 1 : 0);
  if (!all) body += BitField(defined);
  PutByte(&body, 0);  // not external
  for (const ArchiveItem& item : items)
    if (item.*has) PutLe(&body, static_cast<uint64_t>(item.*value), width);
  return body;
}

std::string StreamsInfo(const std::vector<const ArchiveItem*>& streams, uint64_t packed,
                        const ArchiveOptions& options) {
  std::string out;
  PutByte(&out, kMainStreamsInfo);

  PutByte(&out, kPackInfo);
  PutNumber(&out, 0);  // pack position
  PutNumber(&out, 1);  // one packed stream
  PutByte(&out, kSize);
  PutNumber(&out, packed);
  PutByte(&out, kEnd);

  PutByte(&out, kUnpackInfo);
  PutByte(&out, kFolder);
  PutNumber(&out, 1);  // one folder
  PutByte(&out, 0);    // not external
  PutNumber(&out, 1);  // one coder
  std::string id;
  for (uint64_t v = options.coderId; v != 0; v >>= 8) id.insert(id.begin(), static_cast<char>(v & 0xFF));
  if (id.empty()) id.push_back('\0');
  PutByte(&out, static_cast<unsigned>(id.size()));
  out += id;
  PutByte(&out, kCodersUnpackSize);
  PutNumber(&out, packed + options.extraUnpackSize);
  PutByte(&out, kEnd);

  PutByte(&out, kSubStreamsInfo);
  PutByte(&out, kNumUnpackStream);
  PutNumber(&out, streams.size());
  if (streams.size() > 1) {
    PutByte(&out, kSize);
    for (size_t i = 0; i + 1 < streams.size(); ++i) PutNumber(&out, streams[i]->data.size());
  }
  PutByte(&out, kCrc);
  PutByte(&out, 1);  // all defined
  for (const ArchiveItem* item : streams) PutLe(&out, Crc32(item->data), 4);
  PutByte(&out, kEnd);

  PutByte(&out, kEnd);
  return out;
}

std::string FilesInfo(const std::vector<ArchiveItem>& items) {
  std::string out;
  PutByte(&out, kFilesInfo);
  PutNumber(&out, items.size());

  std::vector<bool> emptyStream, emptyFile;
  bool anyEmpty = false;
  for (const ArchiveItem& item : items) {
    bool empty = item.directory || item.data.empty();
    emptyStream.push_back(empty);
    if (empty) {
      emptyFile.push_back(!item.directory);
      anyEmpty = true;
    }
  }
  if (anyEmpty) {
    PutProperty(&out, kEmptyStream, BitField(emptyStream));
    PutProperty(&out, kEmptyFile, BitField(emptyFile));
  }

  std::string names;
  PutByte(&names, 0);  // not external
  for (const ArchiveItem& item : items) {
    for (wchar_t c : item.name) PutLe(&names, static_cast<uint16_t>(c), 2);
    PutLe(&names, 0, 2);
  }
  PutProperty(&out, kName, names);

  bool anyTime = false, anyAttributes = false;
  for (const ArchiveItem& item : items) {
    anyTime = anyTime || item.hasTime;
    anyAttributes = anyAttributes || item.hasAttributes;
  }
  if (anyTime) PutProperty(&out, kMTime, DefinedValues(items, &ArchiveItem::hasTime, &ArchiveItem::time, 8));
  if (anyAttributes)
    PutProperty(&out, kWinAttributes,
                DefinedValues(items, &ArchiveItem::hasAttributes, &ArchiveItem::attributes, 4));
  PutByte(&out, kEnd);
  return out;
}

}  // namespace

std::string BuildSevenZip(const std::vector<ArchiveItem>& items, const ArchiveOptions& options) {
  std::string packed;
  std::vector<const ArchiveItem*> streams;
  for (const ArchiveItem& item : items) {
    if (item.directory || item.data.empty()) continue;
    packed += item.data;
    streams.push_back(&item);
  }

  std::string header;
  if (!items.empty() || options.headerWhenEmpty) {
    PutByte(&header, kHeader);
    if (!streams.empty()) header += StreamsInfo(streams, packed.size(), options);
    if (!items.empty()) header += FilesInfo(items);
    PutByte(&header, kEnd);
  }

  std::string startFields;
  PutLe(&startFields, packed.size(), 8);  // next header offset, behind the data
  PutLe(&startFields, header.size(), 8);
  PutLe(&startFields, header.empty() ? 0 : Crc32(header), 4);

  std::string archive("7z\xBC\xAF\x27\x1C", 6);
  PutByte(&archive, 0);
  PutByte(&archive, 4);
  PutLe(&archive, Crc32(startFields), 4);
  archive += startFields;
  archive += packed;
  archive += header;
  return archive;
}

}  // namespace kxtest
