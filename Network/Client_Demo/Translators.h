// Turn the reply code of a user command into a German message box titled "Fehler", or the request
// layer's last error text for code 0. Each returns 1 when the code counts as success (nothing is
// shown) and 0 when a message was shown. Main thread only.
#pragma once

#include <cstdint>

int32_t CheckLoginResult(int32_t code);
int32_t CheckRegisterResult(int32_t code);
int32_t CheckControlResult(int32_t code);
int32_t CheckAvatarResult(int32_t code);
int32_t CheckLogoutResult(int32_t code);
int32_t CheckResult(int32_t code);
