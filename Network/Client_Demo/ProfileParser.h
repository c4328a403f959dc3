// Reads the seven values out of a profile text ("VERSION 1", then "Key: value" lines ending in
// LF CR, the signature last and unterminated). Works on the Windows-1252 bytes.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "Network/Client_Demo/FrontEndState.h"

// Each key is searched behind the line end of the key before it; a value runs to the next LF CR
// behind its key, the signature to the end of the text. A key that is absent gives an empty value.
std::array<std::string, ProfileValueCount> ParseProfileText(std::string_view text);
