// SHA-256 of bytes in memory, by OpenSSL's libcrypto.
#ifndef KX_TOOLS_KXPACK_SHA256_H
#define KX_TOOLS_KXPACK_SHA256_H

#include <string>
#include <vector>

// The digest as 64 upper-case hex digits.
std::string Sha256Hex(const std::vector<unsigned char>& bytes);

#endif
