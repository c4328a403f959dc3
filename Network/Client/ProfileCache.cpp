#include "Network/Client/ProfileCache.h"

#include "Network/Client/Client.h"

#include <mutex>

std::string ProfileEntryName(std::string_view user) {
    return "Profile_" + std::string(user);
}

std::string AvatarEntryName(std::string_view user) {
    return "Avatar_" + std::string(user);
}

std::optional<std::vector<uint8_t>> LookUpCachedEntry(const std::string &name) {
    // The existence test makes the entry current; its address and size must be read before any
    // other cache call can change that, so the three calls run under one hold of CacheMutex.
    std::lock_guard cache(ClientState.CacheMutex);
    if (ClientState.Cache == 0 ||
        Cluster::Drovik_Cache_isCached(ClientState.Cache, name.c_str()) == 0)
        return std::nullopt;
    const auto *data =
        static_cast<const uint8_t *>(Cluster::Drovik_Cache_GetMem(ClientState.Cache));
    const int32_t size = Cluster::Drovik_Cache_GetMemSize(ClientState.Cache);
    if (data == nullptr || size <= 0)
        return std::vector<uint8_t>{};
    return std::vector<uint8_t>(data, data + size);
}

void AddCachedEntry(const std::string &name, std::span<const uint8_t> bytes, int32_t setting) {
    if (ClientState.Cache == 0 || bytes.size() > INT32_MAX)
        return;
    // The library copies the bytes. A refusal (an entry above the cache's bound, a lifetime below
    // 0) leaves the entry absent, and the next fetch asks the server again.
    Cluster::Drovik_Cache_AddEntry(ClientState.Cache, name.c_str(), bytes.data(),
                                   static_cast<int32_t>(bytes.size()), setting, 0);
}
