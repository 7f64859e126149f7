// Marvin32, the 64-bit keyed hash that guards new-format log entries.
#pragma once

#include <cstdint>
#include <span>

namespace cellbrook {

constexpr uint64_t kLogEntryHashSeed = 0x82EF4D887A4E55C5ull;

uint64_t Marvin32(std::span<const uint8_t> data, uint64_t seed = kLogEntryHashSeed);

}  // namespace cellbrook
