// The data view's interpreter: each reading of known bytes, little and big
// endian, the time kinds, GUID, SID and texts, and "—" where bytes run out.
#include <gtest/gtest.h>

#include <map>

#include "present/data_interpreter.h"

namespace cellbrook {
namespace {

std::map<std::string, Interpretation> ByName(const std::vector<Interpretation>& rows) {
  std::map<std::string, Interpretation> m;
  for (const Interpretation& r : rows) m[r.name] = r;
  return m;
}

TEST(DataInterpreter, ReadingsOfKnownBytes) {
  const std::vector<uint8_t> bytes = {0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x3F,
                                      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  const auto m = ByName(InterpretBytes(bytes, 0));
  const struct {
    const char* name;
    const char* little;
    const char* big;
  } cases[] = {
      {"int8", "-2", ""},
      {"uint8", "254", ""},
      {"int16", "-2", "-257"},
      {"uint16", "65534", "65279"},
      {"int32", "-2", "-16777217"},
      {"uint32", "4294967294", "4278190079"},
      {"int64", "4575657225703391230", "-72057598332862401"},
      {"uint64", "4575657225703391230", "18374686475376689215"},
      {"GUID", "{fffffffe-0000-3f80-0102-030405060708}", ""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(m.count(c.name)) << c.name;
    EXPECT_EQ(m.at(c.name).little, c.little) << c.name;
    EXPECT_EQ(m.at(c.name).big, c.big) << c.name;
  }
  // 1.0f sits at offset 4.
  EXPECT_EQ(ByName(InterpretBytes(bytes, 4)).at("float").little, "1");
}

TEST(DataInterpreter, TimesSidsAndTexts) {
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* name;
    const char* reading;
  } cases[] = {
      {"FILETIME", {0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01}, "FILETIME", "1970-01-01T00:00:00.0000000Z"},
      {"Unix time", {0x00, 0xE1, 0xF5, 0x05}, "Unix time (32-bit)", "1973-03-03T09:46:40Z"},
      {"DOS date and time", {0x20, 0x60, 0x65, 0x4E}, "DOS date and time", "2019-03-05 12:01:00"},
      {"DOS date out of range",
       {0x00, 0x00, 0x00, 0x00},
       "DOS date and time",
       "1980-00-00 00:00:00 (not a valid date)"},
      {"SYSTEMTIME",
       {0xE3, 0x07, 0x03, 0x00, 0x02, 0x00, 0x05, 0x00, 0x0C, 0x00, 0x22, 0x00, 0x38, 0x00, 0x7B, 0x00},
       "SYSTEMTIME",
       "2019-03-05 12:34:56.123"},
      {"SID", {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}, "SID", "S-1-5-32-544 (BUILTIN\\Administrators)"},
      {"UTF-16 to the NUL", {'A', 0, 0xFC, 0, 0, 0, 'B', 0}, "UTF-16 text", "A\xC3\xBC"},
      {"8-bit to the NUL", {'h', 'i', 0xE9, 0, 'x'}, "8-bit text", "hi\xC3\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ByName(InterpretBytes(c.bytes, 0)).at(c.name).little, c.reading) << c.what;
  }
}

TEST(DataInterpreter, ShortBytesAndSelectionsShowDashes) {
  const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const struct {
    size_t offset, length;
    std::vector<std::string> dashed, read;
  } cases[] = {
      {7, 0, {"uint32", "float", "double", "FILETIME", "GUID", "SYSTEMTIME"}, {"uint8", "uint16"}},
      {0, 2, {"uint32", "int64", "Unix time (32-bit)", "SID"}, {"uint16"}},
      {9, 0, {"uint16", "UTF-16 text"}, {"uint8", "8-bit text"}},
      {10, 0, {"uint8", "8-bit text", "UTF-16 text"}, {}},
      {99, 0, {"uint8", "int64"}, {}},
  };
  for (const auto& c : cases) {
    const auto m = ByName(InterpretBytes(bytes, c.offset, c.length));
    for (const std::string& name : c.dashed) EXPECT_EQ(m.at(name).little, kNoReading) << c.offset << " " << name;
    for (const std::string& name : c.read) EXPECT_NE(m.at(name).little, kNoReading) << c.offset << " " << name;
  }
  EXPECT_EQ(ByName(InterpretBytes(bytes, 0, 2)).at("uint16").big, "258");
}

}  // namespace
}  // namespace cellbrook
