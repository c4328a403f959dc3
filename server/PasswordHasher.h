// Argon2id hashes of the password digests that clients send. Hashing is slow by design: callers
// hash on job threads and never while holding a lock that other jobs wait for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The longest password digest accepted from a client (clients send 32 hexadecimal digits).
constexpr size_t kMaxDigestLength = 128;

class PasswordHasher {
public:
    PasswordHasher(uint32_t opsLimit, uint32_t memoryKiB);

    // The encoded hash (algorithm, cost, salt and hash in one text). Throws std::runtime_error
    // when the memory cannot be had.
    std::string hash(std::string_view digest) const;
    bool verify(const std::string &encodedHash, std::string_view digest) const;
    // True when the hash was made with other costs than the current ones.
    bool needsRehash(const std::string &encodedHash) const;

private:
    unsigned long long opsLimit_;
    size_t memoryBytes_;
};
