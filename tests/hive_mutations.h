// Deterministic damaged variants of a hive: byte flips in the bins,
// truncation, offsets aimed outside the image or at their own cell, counts
// of 0xFFFFFFFF, a root index naming itself, a big-data cell with a huge
// segment count, parent chains that loop, names of length 0xFFFF at the
// end of the image, and a file of exactly "regf".
#pragma once

#include <string>
#include <vector>

#include "hive_builder.h"

namespace cellbrook::test {

struct Mutant {
  std::string what;
  Bytes image;
};

std::vector<Mutant> MutateHive(const Bytes& base, uint32_t seed, size_t count);

// The bases: small shared hives when present, and built ones.
std::vector<std::pair<std::string, Bytes>> MutationBases();

}  // namespace cellbrook::test
