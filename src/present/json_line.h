// One JSON object a line, written straight into a reused buffer: the bytes
// the JSON library's compact dump gives for the same members (same order,
// strings escaped alike), without building a document a record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cellbrook {

class JsonLine {
 public:
  // Starts a new object; the previous text is dropped.
  JsonLine& Begin();
  // `key`: a member name of the program's own, plain ASCII without quotes,
  // backslashes or controls (written as it is).
  JsonLine& String(std::string_view key, std::string_view value);
  JsonLine& Number(std::string_view key, uint64_t value);
  JsonLine& Bool(std::string_view key, bool value);
  JsonLine& Null(std::string_view key);
  JsonLine& Strings(std::string_view key, const std::vector<std::string>& values);
  // The object, closed (no line end).
  const std::string& End();

 private:
  void Key(std::string_view key);
  std::string text_;
  bool first_ = true;
};

// A JSON string (quoted): '"' and '\' escaped, \b \f \n \r \t and other
// controls below 0x20 as \u00xx; valid UTF-8 as it is, invalid bytes
// replaced as the JSON library's replacing dump does.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace cellbrook
