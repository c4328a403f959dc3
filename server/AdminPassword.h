// The administrator password: set once from a file or generated, kept only as a hash.
#pragma once

#include <string>
#include <string_view>

class Store;
class PasswordHasher;

// When the store holds no administrator password yet, sets it from the first line of
// `passwordFile`, or, without a file, generates a random one and prints it once on standard
// output. Throws std::runtime_error when the file cannot be used.
void EnsureAdminPassword(Store &store, const PasswordHasher &hasher,
                         const std::string &passwordFile);
