// Windows: the digest through the system's own MD5 (CNG), so the client needs no OpenSSL there.
#include "protocol/PasswordDigest.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// windows.h first: bcrypt.h uses its types.
#include <bcrypt.h>

#include <array>

std::string PasswordDigest(std::string_view password) {
    const size_t end = password.find('\0');
    if (end != std::string_view::npos)
        password = password.substr(0, end);

    // A text longer than a ULONG counts is no password anyone typed; it gets no digest.
    if (password.size() > 0xFFFFFFFFu)
        return "";
    std::array<UCHAR, 16> digest{};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok =
        BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
        BCRYPT_SUCCESS(BCryptHashData(hash,
                                      reinterpret_cast<PUCHAR>(const_cast<char *>(password.data())),
                                      static_cast<ULONG>(password.size()), 0)) &&
        BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), ULONG(digest.size()), 0));
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    if (algorithm != nullptr)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!ok)
        return "";

    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (UCHAR byte : digest) {
        text += hex[byte >> 4];
        text += hex[byte & 0x0f];
    }
    return text;
}
