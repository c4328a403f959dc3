// Small helpers of the client layer: the cached-profile deletions and the user-name check.
#include "Network/Client/Client.h"

int32_t DeleteCachedProfile(const std::string &name) {
    std::lock_guard cache(ClientState.CacheMutex);
    if (ClientState.Cache == 0)
        return 0;
    Cluster::Drovik_Cache_DeleteEntry(ClientState.Cache, ("Profile_" + name).c_str());
    Cluster::Drovik_Cache_DeleteEntry(ClientState.Cache, ("Avatar_" + name).c_str());
    return 0;
}

// The own profile and avatar are cached under "@Own", which no user name can equal.
int32_t DeleteOwnCachedProfile() {
    return DeleteCachedProfile("@Own");
}

int32_t IsValidName(const std::string &name) {
    for (const char c : name) {
        if (c == '\0')
            break;
        const bool valid =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!valid)
            return 0;
    }
    return 1;
}
