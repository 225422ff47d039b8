#include "tests/support/package_files.h"

#include "base/container_format.h"

namespace kxtest {
namespace {

const unsigned char* Bytes(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

}  // namespace

uint32_t ContainerOffsetOf(const std::string& package) {
  size_t headerBytes = package.size() < kxformat::kHeaderBufferSize ? package.size() : kxformat::kHeaderBufferSize;
  return kxformat::ContainerOffsetFromHeaders(Bytes(package), headerBytes);
}

bool SplitPackage(const std::string& package, PackageParts* parts) {
  uint32_t offset = ContainerOffsetOf(package);
  if (offset == 0 || offset + kxformat::kContainerHeaderSize > package.size()) return false;
  uint64_t payloadLength = kxbytes::ReadU64(Bytes(package) + offset + kxformat::kPayloadLengthField);
  if (offset + kxformat::kContainerHeaderSize + payloadLength > package.size()) return false;
  parts->stub = package.substr(0, offset);
  parts->payloadArchive = package.substr(offset + kxformat::kContainerHeaderSize, static_cast<size_t>(payloadLength));
  parts->runtimeArchive = package.substr(offset + kxformat::kContainerHeaderSize + static_cast<size_t>(payloadLength));
  return true;
}

std::string ComposePackage(const PackageParts& parts) {
  std::string out = parts.stub;
  out += "KX";
  kxbytes::AppendLe(&out, parts.payloadArchive.size(), 8);
  kxbytes::AppendLe(&out, parts.stub.size() + kxformat::kContainerHeaderSize + parts.payloadArchive.size() + parts.runtimeArchive.size(),
                    8);
  out += parts.payloadArchive;
  out += parts.runtimeArchive;
  return out;
}

std::string WithRuntimeArchive(const std::string& package, const std::string& runtimeArchive) {
  PackageParts pieces;
  if (!SplitPackage(package, &pieces)) return std::string();
  pieces.runtimeArchive = runtimeArchive;
  return ComposePackage(pieces);
}

}  // namespace kxtest
