// Reading the server's preferences block into the client's record, and reading the record from any
// thread while a login replaces it.
#pragma once

#include "Network/Common/Preferences.h"

#include <cstdint>
#include <span>

// Copies the block over the start of the record, byte for byte (fields little-endian): a shorter
// block replaces only the bytes it holds, a longer one is cut to the record's 64 bytes. Returns
// the number of bytes copied.
size_t StorePreferencesBlock(std::span<const uint8_t> block, Preferences &record);

// A consistent-enough copy of the record's named fields, each read whole; safe while another
// thread stores a new block with StorePreferencesBlock.
Preferences LoadPreferences(const Preferences &record);
