#include "tools/kxpack/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

std::string Sha256Hex(const std::vector<unsigned char>& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // Fails only when libcrypto cannot allocate: kxpack's top level reports it.
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 could not be computed");
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) hex += kDigits[digest[i] >> 4], hex += kDigits[digest[i] & 15];
  return hex;
}
