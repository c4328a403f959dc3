#include "protocol/PasswordDigest.h"

#include <openssl/evp.h>

#include <array>

std::string PasswordDigest(std::string_view password) {
    const size_t end = password.find('\0');
    if (end != std::string_view::npos)
        password = password.substr(0, end);
    if (password.empty())
        return "d41d8cd98f00b204e9800998ecf8427e";  // MD5 of empty input

    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int digestLength = 0;
    if (EVP_Digest(password.data(), password.size(), digest.data(), &digestLength, EVP_md5(),
                   nullptr) != 1 ||
        digestLength != 16)
        return "";
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (unsigned int i = 0; i < digestLength; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 0x0f];
    }
    return text;
}
