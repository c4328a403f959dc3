#include "AdminPassword.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "Log.h"
#include "PasswordHasher.h"
#include "ServerContext.h"
#include "store/Store.h"

std::string PasswordDigest(std::string_view password) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(password.data(), password.size(), digest, &length, EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 is not available");
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 15]);
    }
    return text;
}

namespace {

std::string readPasswordFile(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read the administrator password file " + file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    if (line.empty())
        throw std::runtime_error("the administrator password file " + file +
                                 " holds no password on its first line");
    return line;
}

std::string randomPassword() {
    static const char kAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    std::string password;
    for (int i = 0; i < 16; ++i)
        password.push_back(kAlphabet[randombytes_uniform(sizeof kAlphabet - 1)]);
    return password;
}

}  // namespace

void EnsureAdminPassword(Store &store, const PasswordHasher &hasher,
                         const std::string &passwordFile) {
    if (store.settings.get(kAdminPasswordKey)) {
        if (!passwordFile.empty())
            LogEvent("administrator password already set; ", passwordFile, " is not used");
        return;
    }
    if (!passwordFile.empty()) {
        store.settings.set(kAdminPasswordKey,
                           hasher.hash(PasswordDigest(readPasswordFile(passwordFile))));
        LogEvent("administrator password set from ", passwordFile);
        return;
    }
    std::string password = randomPassword();
    store.settings.set(kAdminPasswordKey, hasher.hash(PasswordDigest(password)));
    std::printf("administrator password: %s\n", password.c_str());
    std::fflush(stdout);
    LogEvent("administrator password generated and printed once on standard output");
}
