// The two texts of the protocol made of lines: the online list and the profile text. Their lines
// end with LF CR, in this order. Texts are 8-bit Windows-1252 bytes.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view LineEnd = "\n\r";

// ---- The online list: every name online, each followed by a line end. ------------------------

void AppendOnlineListName(std::string &list, std::string_view name);

// The names of an online-list text: every LF CR becomes LF, and as many LF-separated fields are
// taken as there are LFs, so a name without a line end after it is left out.
std::vector<std::string> SplitOnlineList(std::string_view text);

// ---- The profile text: "VERSION 1", then "Key: value" lines, the signature last and
// unterminated. --------------------------------------------------------------------------------

inline constexpr size_t ProfileFieldCount = 7;
using ProfileFields = std::array<std::string, ProfileFieldCount>;

// The keys, in the order the text holds them: FirstName, SureName, Country, City, Birth,
// Homepage, Signature.
inline constexpr std::array<std::string_view, ProfileFieldCount> ProfileKeys = {
    "FirstName: ", "SureName: ", "Country: ", "City: ", "Birth: ", "Homepage: ", "Signature: "};

// Values go in byte for byte, unchecked.
std::string BuildProfileText(const ProfileFields &values);

// Each key is searched behind the line end of the key before it; a value runs to the next LF CR
// behind its key, the signature to the end of the text. A key that is absent gives an empty value.
ProfileFields ParseProfileText(std::string_view text);
