// Security descriptors: every descriptor of the shared hives against the
// SDDL table, descriptors built for what the real ones lack, and damaged
// descriptors.
#include <gtest/gtest.h>

#include <sstream>

#include "hive/security_descriptor.h"
#include "present/security_text.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

struct TableRow {
  std::string hex, sddl;
};
std::vector<TableRow> SecurityTable() {
  std::vector<TableRow> rows;
  std::istringstream in(test::ExpectedFile("security", "tsv"));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // the table has CRLF line ends
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) rows.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return rows;
}

TEST(SecurityTable, EveryDescriptorGivesItsSddl) {
  SKIP_WITHOUT_SHARED_HIVES();
  const std::vector<TableRow> rows = SecurityTable();
  ASSERT_EQ(rows.size(), 1010u);
  size_t wrong = 0;
  for (const TableRow& row : rows) {
    const std::vector<uint8_t> bytes = FromHex(row.hex);
    const SecurityDescriptor sd = DecodeSecurityDescriptor(bytes);
    EXPECT_FALSE(sd.Damaged()) << row.hex;
    const std::string sddl = SddlText(sd);
    if (sddl != row.sddl && ++wrong <= 10) {
      ADD_FAILURE() << row.hex << "\n  got      " << sddl << "\n  expected " << row.sddl;
    }
  }
  EXPECT_EQ(wrong, 0u);
}

}  // namespace
}  // namespace cellbrook
