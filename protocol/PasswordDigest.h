// The password digest: what a password becomes before it leaves the client, and what the server
// hashes and compares. The 32 lowercase hexadecimal digits of the MD5 digest (RFC 1321) of the
// password's bytes up to its first zero byte: a password is an 8-bit text, and a zero byte ends
// it, as it would end the text on the wire.
#pragma once

#include <string>
#include <string_view>

// The digest; "" only when libcrypto cannot compute MD5 at all, which any server refuses.
std::string PasswordDigest(std::string_view password);
