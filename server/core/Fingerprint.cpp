#include "core/Fingerprint.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace nimbara::server {

namespace {

std::string digestHex(std::string_view bytes, const EVP_MD *type)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &length, type, nullptr))
        throw std::runtime_error("digest failed");
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex += hexDigits[digest[i] >> 4];
        hex += hexDigits[digest[i] & 0xf];
    }
    return hex;
}

} // namespace

std::string sha1Hex(std::string_view bytes)
{
    return digestHex(bytes, EVP_sha1());
}

std::string md5Hex(std::string_view bytes)
{
    return digestHex(bytes, EVP_md5());
}

std::string fingerprint(std::string_view text)
{
    return md5Hex(sha1Hex(text));
}

} // namespace nimbara::server
