// Builds self-relative security descriptors for the tests: owner, group,
// and ACLs of ACEs, object ACEs with their GUIDs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "hive/security_descriptor.h"
#include "hive_builder.h"

namespace cellbrook::test {

// Builds self-relative descriptors: owner, group, and ACLs of ACEs.
inline Bytes SidBytes(uint64_t authority, std::vector<uint32_t> subs) {
  Bytes b{1, static_cast<uint8_t>(subs.size())};
  for (int i = 5; i >= 0; --i) b.push_back(static_cast<uint8_t>(authority >> (8 * i)));
  for (uint32_t s : subs) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(s >> (8 * i)));
  }
  return b;
}
inline void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Append32(Bytes& b, uint32_t v) {
  b.resize(b.size() + 4);
  Put32(b, b.size() - 4, v);
}
inline const Bytes kSystem = SidBytes(5, {18});
inline const Bytes kAdmins = SidBytes(5, {32, 544});
inline const Bytes kEveryone = SidBytes(1, {0});
inline const Bytes kLow = SidBytes(16, {4096});
inline const Bytes kDomainUser = SidBytes(5, {21, 1, 2, 3, 1001});

inline Bytes AceBytes(uint8_t type, uint8_t flags, uint32_t mask, const Bytes& sid, const Bytes* objectType = nullptr,
                      const Bytes* inherited = nullptr) {
  Bytes b{type, flags, 0, 0};
  Append32(b, mask);
  if (IsObjectAce(type)) {
    Append32(b, (objectType ? 1u : 0u) | (inherited ? 2u : 0u));
    if (objectType) b.insert(b.end(), objectType->begin(), objectType->end());
    if (inherited) b.insert(b.end(), inherited->begin(), inherited->end());
  }
  b.insert(b.end(), sid.begin(), sid.end());
  Put16(b, 2, static_cast<uint16_t>(b.size()));
  return b;
}
inline Bytes AclBytes(const std::vector<Bytes>& aces) {
  Bytes b{2, 0, 0, 0, 0, 0, 0, 0};
  for (const Bytes& a : aces) b.insert(b.end(), a.begin(), a.end());
  Put16(b, 2, static_cast<uint16_t>(b.size()));
  Put16(b, 4, static_cast<uint16_t>(aces.size()));
  return b;
}
struct DescriptorParts {
  uint16_t control = descriptor_field::SelfRelative;
  const Bytes* owner = &kSystem;
  const Bytes* group = &kSystem;
  const Bytes* dacl = nullptr;  // with DaclPresent in control: null means a null DACL
  const Bytes* sacl = nullptr;
};
inline Bytes DescriptorBytes(const DescriptorParts& p) {
  Bytes b(descriptor_field::HeaderSize, 0);
  b[0] = 1;
  Put16(b, descriptor_field::Control, p.control);
  auto add = [&](const Bytes* part, uint32_t field) {
    if (part == nullptr) return;
    const size_t at = b.size();
    Put32(b, field, static_cast<uint32_t>(at));
    b.resize(at + part->size());  // not insert: GCC 12 warns falsely on it here
    std::copy(part->begin(), part->end(), b.begin() + static_cast<ptrdiff_t>(at));
  };
  add(p.sacl, descriptor_field::Sacl);
  add(p.dacl, descriptor_field::Dacl);
  add(p.owner, descriptor_field::Owner);
  add(p.group, descriptor_field::Group);
  return b;
}

}  // namespace cellbrook::test
