// The password digest: MD5 (RFC 1321) through OpenSSL's libcrypto, in lowercase hexadecimal.
#include "Network/Client/Client.h"

#include <openssl/evp.h>

#include <array>
#include <cstring>

std::string PasswordDigest(const std::string &password) {
    // The text ends at its first zero byte, as it would for the server.
    const size_t length = std::strlen(password.c_str());
    if (length == 0)
        return "d41d8cd98f00b204e9800998ecf8427e";  // MD5 of empty input

    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int digestLength = 0;
    if (EVP_Digest(password.data(), length, digest.data(), &digestLength, EVP_md5(), nullptr) !=
            1 ||
        digestLength != 16) {
        // Only when libcrypto cannot run MD5 at all; an empty digest is refused by any server.
        return "";
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (unsigned int i = 0; i < digestLength; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 0x0f];
    }
    return text;
}
