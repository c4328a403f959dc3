// The local cache of profile texts and avatar bytes, kept by the cluster library.
//
// Entries: "Profile_" or "Avatar_" followed by a user name exactly as given, or by "@Own" for the
// own account, which no user name can equal. Lock order: a look-up holds CacheMutex alone and
// releases it before any request; an entry is added while the fetching request holds
// RequestMutex only. Fetches and deletions come from one thread (the front-end's), so an entry is
// never added while a look-up on another thread copies the bytes of the current entry.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char OwnProfileName[] = "@Own";

std::string ProfileEntryName(std::string_view user);
std::string AvatarEntryName(std::string_view user);

// A copy of the entry's bytes, or nothing when it is not cached (or has expired).
std::optional<std::vector<uint8_t>> LookUpCachedEntry(const std::string &name);

// Stores a copy of the bytes under the name, with the lifetime setting from the preferences.
void AddCachedEntry(const std::string &name, std::span<const uint8_t> bytes, int32_t setting);
