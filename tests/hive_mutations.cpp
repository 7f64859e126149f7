#include "hive_mutations.h"

#include <cstring>

#include "shared_hives.h"

namespace cellbrook::test {
namespace {

constexpr size_t kBins = 4096;

class Rng {
 public:
  explicit Rng(uint32_t seed) : s_(seed * 2654435761u + 1) {}
  uint32_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 17;
    s_ ^= s_ << 5;
    return s_;
  }
  size_t Below(size_t n) { return n == 0 ? 0 : Next() % n; }

 private:
  uint32_t s_;
};

uint32_t Get32(const Bytes& b, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= b.size()) std::memcpy(&v, b.data() + at, 4);
  return v;
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  if (at + 4 <= b.size()) std::memcpy(b.data() + at, &v, 4);
}
void Put16(Bytes& b, size_t at, uint16_t v) {
  if (at + 2 <= b.size()) std::memcpy(b.data() + at, &v, 2);
}

// File offsets of the cells (their size fields) whose signature is `sig`.
std::vector<size_t> CellsWith(const Bytes& b, const char* sig) {
  std::vector<size_t> cells;
  for (size_t at = kBins + 4; at + 2 <= b.size(); at += 8) {
    if (b[at] == sig[0] && b[at + 1] == sig[1]) cells.push_back(at - 4);
  }
  return cells;
}

uint32_t CellOffsetOf(size_t fileOffset) { return static_cast<uint32_t>(fileOffset - kBins); }

}  // namespace

std::vector<Mutant> MutateHive(const Bytes& base, uint32_t seed, size_t count) {
  Rng rng(seed);
  const std::vector<size_t> keys = CellsWith(base, "nk"), values = CellsWith(base, "vk");
  const std::vector<size_t> lfs = CellsWith(base, "lf"), lhs = CellsWith(base, "lh");
  const std::vector<size_t> ris = CellsWith(base, "ri"), dbs = CellsWith(base, "db");
  auto pick = [&rng](const std::vector<size_t>& v) { return v.empty() ? size_t{0} : v[rng.Below(v.size())]; };
  std::vector<Mutant> out;
  out.push_back({"exactly regf", Bytes{'r', 'e', 'g', 'f'}});
  for (size_t n = 0; out.size() < count; ++n) {
    Mutant m{"", base};
    Bytes& b = m.image;
    const size_t bins = b.size() > kBins ? b.size() - kBins : 1;
    switch (n % 11) {
      case 0: {
        const size_t flips = 1 + rng.Below(16);
        for (size_t i = 0; i < flips; ++i)
          b[kBins + rng.Below(bins) % bins] ^= static_cast<uint8_t>(1u << rng.Below(8));
        m.what = "byte flips";
        break;
      }
      case 1:
        b.resize(4 + rng.Below(b.size() - 4));
        m.what = "truncated to " + std::to_string(b.size());
        break;
      case 2: {  // a key's index, value list or parent aimed outside
        const size_t k = pick(keys);
        const size_t fields[] = {0x14, 0x20, 0x2C};
        Put32(b, k + fields[rng.Below(3)], 0x7FFFFFF0u - static_cast<uint32_t>(rng.Below(64)));
        m.what = "key offset outside";
        break;
      }
      case 3: {  // an offset aimed at its own cell
        const size_t k = pick(keys);
        const size_t fields[] = {0x14, 0x20, 0x2C};
        Put32(b, k + fields[rng.Below(3)], CellOffsetOf(k));
        m.what = "key offset at itself";
        break;
      }
      case 4: {
        const size_t k = pick(keys);
        Put32(b, k + (rng.Below(2) ? 0x18 : 0x28), 0xFFFFFFFFu);
        m.what = "count of 0xFFFFFFFF";
        break;
      }
      case 5: {  // a root index naming itself
        size_t index = ris.empty() ? pick(lfs.empty() ? lhs : lfs) : pick(ris);
        if (index == 0) break;
        b[index + 4] = 'r';
        b[index + 5] = 'i';
        Put32(b, index + 8, CellOffsetOf(index));
        m.what = "ri naming itself";
        break;
      }
      case 6: {  // big data with a huge segment count
        size_t db = pick(dbs);
        if (db == 0) {
          const size_t v = pick(values);
          if (v == 0) break;
          Put32(b, v + 8, 0x7FFFFFFF);
          db = kBins + Get32(b, v + 0xC);
          if (db + 12 > b.size()) break;
          b[db + 4] = 'd';
          b[db + 5] = 'b';
        }
        Put16(b, db + 6, 0xFFFF);
        m.what = "db with a huge segment count";
        break;
      }
      case 7: {  // a parent chain that loops
        const size_t a = pick(keys), c = pick(keys);
        Put32(b, a + 0x14, CellOffsetOf(c));
        Put32(b, c + 0x14, CellOffsetOf(a));
        m.what = "parent loop";
        break;
      }
      case 8: {  // a key node of name length 0xFFFF at the end, as the root or a subkey
        const size_t at = (b.size() - 0x50) & ~size_t{7};
        std::memset(b.data() + at, 0, b.size() - at);
        b[at + 4] = 'n';
        b[at + 5] = 'k';
        Put16(b, at + 0x4C, 0xFFFF);
        if (rng.Below(2)) {
          Put32(b, 0x24, CellOffsetOf(at));
        } else if (const size_t index = pick(lfs.empty() ? lhs : lfs)) {
          Put32(b, index + 8, CellOffsetOf(at));
        }
        m.what = "key name of 0xFFFF at the end";
        break;
      }
      case 9: {  // a value node of name length 0xFFFF at the end
        const size_t at = (b.size() - 0x18) & ~size_t{7};
        std::memset(b.data() + at, 0, b.size() - at);
        b[at + 4] = 'v';
        b[at + 5] = 'k';
        Put16(b, at + 6, 0xFFFF);
        const size_t k = pick(keys);
        if (k != 0 && Get32(b, k + 0x28) > 0) {
          const size_t list = kBins + Get32(b, k + 0x2C);
          Put32(b, list + 4, CellOffsetOf(at));
        }
        m.what = "value name of 0xFFFF at the end";
        break;
      }
      default: {  // a value's data aimed outside or at its own node
        const size_t v = pick(values);
        if (v == 0) break;
        Put32(b, v + 8, 1 + static_cast<uint32_t>(rng.Below(0x10000)));
        Put32(b, v + 0xC, rng.Below(2) ? 0x7FFFFFF0u : CellOffsetOf(v));
        m.what = "value data outside or at itself";
      }
    }
    if (m.what.empty()) continue;
    m.what += " #" + std::to_string(out.size());
    out.push_back(std::move(m));
  }
  return out;
}

std::vector<std::pair<std::string, Bytes>> MutationBases() {
  std::vector<std::pair<std::string, Bytes>> bases;
  bases.emplace_back("sample", BuildSampleHive().image);
  {
    HiveBuilder b;
    const uint32_t root = b.Key("root");
    std::vector<uint32_t> keys;
    for (int i = 0; i < 40; ++i) keys.push_back(b.Key("k" + std::to_string(i), root));
    b.SetSubkeys(root, keys, IndexKind::Ri, 8);
    b.SetSubkeys(keys[0], {b.Key("li-child", keys[0])}, IndexKind::Li);
    b.SetValues(keys[1], {b.Value("big", 3, Bytes(40000, 9)), b.Value("s", 1, Utf16Bytes(u"str")),
                          b.Value("w\xC3\xA9", 4, {1, 0, 0, 0}, DataStorage::Auto, NameStorage::Utf16)});
    b.SetRoot(root);
    bases.emplace_back("built ri/li/db", b.Image());
  }
  if (SharedHivesPresent()) {
    for (const char* name : {"BCD", "SECURITY", "SAM"}) {
      const std::string bytes = ReadFileBytes(SharedHivesDir() + "/" + name);
      bases.emplace_back(name, Bytes(bytes.begin(), bytes.end()));
    }
  }
  return bases;
}

}  // namespace cellbrook::test
