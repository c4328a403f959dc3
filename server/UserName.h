// User names: 1 to 32 bytes of A-Z, a-z, 0-9 and _, compared and stored in lower case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

constexpr size_t kMaxUserNameLength = 32;

// The lower-case form of a valid name, or nothing for an invalid one (the empty name included).
std::optional<std::string> NormalizeUserName(std::string_view name);

// A short printable form of any text from a client, for the log: bytes outside printable ASCII
// become \xNN and the text is cut at 48 bytes.
std::string Printable(std::string_view text);
