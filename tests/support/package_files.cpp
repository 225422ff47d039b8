#include "package_files.h"

#include "pe_layout.h"

namespace kxtest {
namespace {

const unsigned char* Bytes(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

void AppendU64(std::string* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

uint32_t ContainerOffsetOf(const std::string& package) {
  size_t headerBytes = package.size() < pelayout::kHeaderBufferSize ? package.size() : pelayout::kHeaderBufferSize;
  return pelayout::ContainerOffsetFromHeaders(Bytes(package), headerBytes);
}

bool SplitPackage(const std::string& package, PackageParts* parts) {
  uint32_t offset = ContainerOffsetOf(package);
  if (offset == 0 || offset + 18ull > package.size()) return false;
  uint64_t payloadLength = pelayout::ReadU64(Bytes(package) + offset + 2);
  if (offset + 18ull + payloadLength > package.size()) return false;
  parts->stub = package.substr(0, offset);
  parts->payloadArchive = package.substr(offset + 18, static_cast<size_t>(payloadLength));
  parts->runtimeArchive = package.substr(offset + 18 + static_cast<size_t>(payloadLength));
  return true;
}

std::string ComposePackage(const PackageParts& parts) {
  std::string out = parts.stub;
  out += "KX";
  AppendU64(&out, parts.payloadArchive.size());
  AppendU64(&out, parts.stub.size() + 18 + parts.payloadArchive.size() + parts.runtimeArchive.size());
  out += parts.payloadArchive;
  out += parts.runtimeArchive;
  return out;
}

}  // namespace kxtest
