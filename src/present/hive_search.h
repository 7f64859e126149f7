// Finding a text or some bytes in key names, value names and value data:
// the find command and the window's Find share it. No Qt.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hive/damage_report.h"
#include "hive/hive_reader.h"

struct URegularExpression;

namespace cellbrook {

struct SearchOptions {
  std::string pattern;                           // UTF-8; hex digits for `hex`
  bool keys = true, values = true, data = true;  // where to look
  bool regex = false;                            // the pattern is a regular expression (ICU syntax)
  bool ignoreCase = false;                       // full Unicode case folding
  bool hex = false;                              // the pattern is bytes, looked for in every value's data
  bool wholeString = false;                      // the whole name or string must match
  // A regular expression's time for the whole search, in seconds (0: none
  // beyond the limit each text has).
  double regexSeconds = 0;
};

// "de ad be ef" or "DEADBEEF" (spaces anywhere) as bytes; false when empty,
// odd or not hex.
bool ParseHexPattern(std::string_view text, std::vector<uint8_t>& out);

struct ValueMatch {
  bool name = false, data = false;
  bool Any() const { return name || data; }
};

class HiveSearch {
 public:
  HiveSearch(const HiveImage& image, const SearchOptions& options);
  ~HiveSearch();
  HiveSearch(const HiveSearch&) = delete;
  HiveSearch& operator=(const HiveSearch&) = delete;

  // Why the pattern cannot be used; empty when it can.
  const std::string& Error() const { return error_; }
  bool LooksAtKeys() const { return keys_; }
  bool LooksAtValues() const { return valueNames_ || data_; }
  bool LooksAtData() const { return data_; }

  // A key's name; a value's name and data. Text data (REG_SZ,
  // REG_EXPAND_SZ, REG_MULTI_SZ) are matched as decoded strings, text
  // patterns only; a hex pattern looks at the data bytes of every type.
  bool KeyMatches(const KeyInfo& key);
  ValueMatch MatchValue(const ValueInfo& value);

  // The names and data looked at stay within twice the image and 1 MiB
  // (a well-formed hive has each in a cell of its own): a hive that shares
  // cells between keys past that stops the search.
  bool BudgetOut() const { return budgetOut_; }
  // Texts a regular expression gave up on (too much backtracking).
  uint64_t GaveUp() const { return gaveUp_; }
  // The search's regular-expression time was spent; the texts met after
  // that (the one it ran out on included) were not searched.
  bool TimeSpent() const { return timeSpent_; }
  uint64_t Unsearched() const { return unsearched_; }

 private:
  static signed char InTime(const void* context, int32_t steps);  // ICU's match callback
  bool Take(uint64_t bytes);
  bool MatchText(std::u16string_view text);
  bool MatchBytes(std::span<const uint8_t> bytes);
  bool MatchTextData(const ValueInfo& value);
  bool MatchByteData(const ValueInfo& value);

  bool keys_, valueNames_, data_, whole_, ignoreCase_, hex_;
  std::string error_;
  std::u16string pattern_;      // folded when ignoring case
  std::vector<uint8_t> bytes_;  // a hex pattern
  URegularExpression* regex_ = nullptr;
  uint64_t bytesLeft_;
  bool budgetOut_ = false;
  uint64_t gaveUp_ = 0;
  double regexSeconds_ = 0;
  bool started_ = false, timeSpent_ = false;
  std::chrono::steady_clock::time_point deadline_{};
  uint64_t unsearched_ = 0;
  // Reused between calls.
  std::u16string units_, folded_;
  std::vector<uint8_t> gathered_;
};

enum class MatchKind { Key, Value, Data };

struct SearchHit {
  MatchKind kind;
  std::string keyPath;  // "ROOT\A", names escaped as EscapeKeyName does
  const KeyInfo& key;
  const ValueInfo* value;  // for Value and Data
};

struct SearchOutcome {
  DamageReport damage;
  bool budgetOut = false;  // the walk or the search's byte budget ran out
  uint64_t hits = 0;
};

// Every key below the root and every value from the root down, pre-order,
// values in list order; a value matching by name and by data gives two
// hits. The root's own name stands in no path and is not searched.
SearchOutcome SearchHive(const HiveImage& image, HiveSearch& search,
                         const std::function<void(const SearchHit&)>& onHit);

}  // namespace cellbrook
