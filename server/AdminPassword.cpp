#include "AdminPassword.h"

#include <sodium.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Log.h"
#include "PasswordHasher.h"
#include "ServerContext.h"
#include "protocol/PasswordDigest.h"
#include "store/Store.h"

namespace {

// The digest a client sends for the password.
std::string digestOf(const std::string &password) {
    std::string digest = PasswordDigest(password);
    if (digest.empty())
        throw std::runtime_error("MD5 is not available");
    return digest;
}

std::string readPasswordFile(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read the administrator password file " + file);
    std::error_code error;
    const auto permissions = std::filesystem::status(file, error).permissions();
    using std::filesystem::perms;
    if (!error && (permissions & (perms::group_read | perms::others_read)) != perms::none)
        LogEvent("warning: the administrator password file ", file,
                 " can be read by other users of this machine");
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    if (line.empty())
        throw std::runtime_error("the administrator password file " + file +
                                 " holds no password on its first line");
    // A client's password ends at a zero byte, so one inside could never be typed in full.
    if (line.find('\0') != std::string::npos)
        throw std::runtime_error("the administrator password file " + file +
                                 " holds a zero byte in its password");
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
    if (auto hash = store.settings.get(kAdminPasswordKey)) {
        // An empty administrator password would let every user who presses "Start Admin" with
        // an empty field in: one stored by an earlier version is replaced as if none were set.
        if (!hasher.verify(*hash, digestOf(""))) {
            if (!passwordFile.empty())
                LogEvent("administrator password already set; ", passwordFile, " is not used");
            return;
        }
        LogEvent("the stored administrator password is empty; it is replaced");
    }
    if (!passwordFile.empty()) {
        store.settings.set(kAdminPasswordKey,
                           hasher.hash(digestOf(readPasswordFile(passwordFile))));
        LogEvent("administrator password set from ", passwordFile);
        return;
    }
    std::string password = randomPassword();
    store.settings.set(kAdminPasswordKey, hasher.hash(digestOf(password)));
    std::printf("administrator password: %s\n", password.c_str());
    std::fflush(stdout);
    LogEvent("administrator password generated and printed once on standard output");
}
