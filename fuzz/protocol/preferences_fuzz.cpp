// Fuzz target: the preferences block, received from the server and copied into a record of fixed
// size. Whatever the block, nothing is written beyond the record, and the named fields hold the
// block's bytes where it has them and their previous values where it has not.
#include "Network/Client/PreferencesBlock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    struct {
        Preferences Record;
        uint8_t Canary[16];
    } guarded;
    std::memset(static_cast<void *>(&guarded), 0x5A, sizeof guarded);
    const size_t copied =
        StorePreferencesBlock(std::span<const uint8_t>(data, size), guarded.Record);
    if (copied != std::min(size, PreferencesSize))
        std::abort();
    for (uint8_t b : guarded.Canary)
        if (b != 0x5A)
            std::abort();
    // The record mirrors the block byte for byte on these little-endian hosts.
    const auto *record = reinterpret_cast<const uint8_t *>(&guarded.Record);
    for (size_t i = 0; i < PreferencesSize; ++i) {
        const uint8_t expected = i < copied ? data[i] : 0x5A;
        if (record[i] != expected)
            std::abort();
    }
    const Preferences loaded = LoadPreferences(guarded.Record);
    if (std::memcmp(&loaded, &guarded.Record, 24) != 0)
        std::abort();
    return 0;
}
