#include "PasswordHasher.h"

#include <sodium.h>

#include <stdexcept>

PasswordHasher::PasswordHasher(uint32_t opsLimit, uint32_t memoryKiB)
    : opsLimit_(opsLimit), memoryBytes_(static_cast<size_t>(memoryKiB) * 1024) {
    if (opsLimit_ < crypto_pwhash_argon2id_OPSLIMIT_MIN)
        opsLimit_ = crypto_pwhash_argon2id_OPSLIMIT_MIN;
    if (memoryBytes_ < crypto_pwhash_argon2id_MEMLIMIT_MIN)
        memoryBytes_ = crypto_pwhash_argon2id_MEMLIMIT_MIN;
}

std::string PasswordHasher::hash(std::string_view digest) const {
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, digest.data(), digest.size(), opsLimit_, memoryBytes_,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw std::runtime_error("password hashing failed: out of memory");
    return out;
}

bool PasswordHasher::verify(const std::string &encodedHash, std::string_view digest) const {
    return crypto_pwhash_str_verify(encodedHash.c_str(), digest.data(), digest.size()) == 0;
}

bool PasswordHasher::needsRehash(const std::string &encodedHash) const {
    return crypto_pwhash_str_needs_rehash(encodedHash.c_str(), opsLimit_, memoryBytes_) != 0;
}
