#include "present/hive_search.h"

#include <unicode/uregex.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>

#include "hive/key_walk.h"
#include "hive/text_codec.h"
#include "present/data_text.h"

namespace cellbrook {
namespace {

// Steps of ICU's match engine for one text, roughly milliseconds.
constexpr int32_t kRegexTimeLimit = 10000;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Full case folding; ASCII text, the common case, without ICU.
void FoldCase(std::u16string_view text, std::u16string& out) {
  out.resize(text.size());
  bool ascii = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0x80) {
      ascii = false;
      break;
    }
    out[i] = u >= u'A' && u <= u'Z' ? static_cast<char16_t>(u + 32) : u;
  }
  if (ascii) return;
  const auto length = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX / 3));
  out.resize(static_cast<size_t>(length) * 3);  // folding at most triples a text
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n =
      u_strFoldCase(out.data(), static_cast<int32_t>(out.size()), text.data(), length, U_FOLD_CASE_DEFAULT, &status);
  out.resize(U_SUCCESS(status) ? static_cast<size_t>(n) : 0);
}

bool IsSearchedText(uint32_t type) { return type == RegSz || type == RegExpandSz || type == RegMultiSz; }

}  // namespace

bool ParseHexPattern(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  int high = -1;
  for (char c : text) {
    if (c == ' ') continue;
    const int digit = HexValue(c);
    if (digit < 0) return false;
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  return high < 0 && !out.empty();
}

HiveSearch::HiveSearch(const HiveImage& image, const SearchOptions& options)
    : keys_(options.keys && !options.hex),
      valueNames_(options.values && !options.hex),
      data_(options.data || options.hex),
      whole_(options.wholeString),
      ignoreCase_(options.ignoreCase),
      hex_(options.hex),
      bytesLeft_(2 * uint64_t{image.Size} + (1u << 20)),
      regexSeconds_(options.regexSeconds) {
  if (options.pattern.empty()) {
    error_ = "The pattern is empty.";
  } else if (hex_) {
    if (!ParseHexPattern(options.pattern, bytes_)) {
      error_ = "The hex pattern must be pairs of hex digits, e.g. \"de ad be ef\".";
    }
  } else if (options.regex) {
    const std::u16string pattern = Utf8ToUtf16String(options.pattern);
    UParseError where{};
    UErrorCode status = U_ZERO_ERROR;
    regex_ = uregex_open(pattern.data(), static_cast<int32_t>(pattern.size()),
                         ignoreCase_ ? UREGEX_CASE_INSENSITIVE : 0, &where, &status);
    if (U_SUCCESS(status)) uregex_setTimeLimit(regex_, kRegexTimeLimit, &status);
    // The engine asks now and then while it matches: the search's time
    // ends a text's match too.
    if (U_SUCCESS(status) && regexSeconds_ > 0) uregex_setMatchCallback(regex_, &HiveSearch::InTime, this, &status);
    if (U_FAILURE(status)) {
      error_ = "The regular expression is invalid (" + std::string(u_errorName(status)) + " at offset " +
               std::to_string(where.offset) + ").";
    }
  } else {
    const std::u16string pattern = Utf8ToUtf16String(options.pattern);
    if (ignoreCase_) {
      FoldCase(pattern, pattern_);
    } else {
      pattern_ = pattern;
    }
  }
}

UBool HiveSearch::InTime(const void* context, int32_t) {
  const auto* search = static_cast<const HiveSearch*>(context);
  return std::chrono::steady_clock::now() < search->deadline_;
}

HiveSearch::~HiveSearch() {
  if (regex_ != nullptr) uregex_close(regex_);
}

bool HiveSearch::Take(uint64_t bytes) {
  if (budgetOut_ || bytes > bytesLeft_) {
    budgetOut_ = true;
    return false;
  }
  bytesLeft_ -= bytes;
  return true;
}

bool HiveSearch::MatchText(std::u16string_view text) {
  if (regex_ != nullptr) {
    static const char16_t kEmpty[] = u"";
    UErrorCode status = U_ZERO_ERROR;
    if (regexSeconds_ > 0) {
      const auto now = std::chrono::steady_clock::now();
      if (!started_) {
        started_ = true;
        deadline_ = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(regexSeconds_));
      }
      if (timeSpent_ || now >= deadline_) {
        timeSpent_ = true;
        ++unsearched_;
        return false;
      }
    }
    const auto length = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
    uregex_setText(regex_, text.empty() ? kEmpty : text.data(), length, &status);
    const bool found = whole_ ? uregex_matches(regex_, 0, &status) : uregex_find(regex_, 0, &status);
    if (U_FAILURE(status)) {
      if (status == U_REGEX_STOPPED_BY_CALLER) {
        timeSpent_ = true;
        ++unsearched_;
      } else {
        ++gaveUp_;
      }
      return false;
    }
    return found;
  }
  std::u16string_view subject = text;
  if (ignoreCase_) {
    FoldCase(text, folded_);
    subject = folded_;
  }
  return whole_ ? subject == pattern_ : subject.find(pattern_) != std::u16string_view::npos;
}

bool HiveSearch::MatchBytes(std::span<const uint8_t> bytes) {
  if (whole_) return std::equal(bytes.begin(), bytes.end(), bytes_.begin(), bytes_.end());
  return std::search(bytes.begin(), bytes.end(), bytes_.begin(), bytes_.end()) != bytes.end();
}

bool HiveSearch::KeyMatches(const KeyInfo& key) {
  if (!keys_ || !Take(key.Name.length)) return false;
  units_.clear();
  key.Name.AppendUnits(units_);
  return MatchText(units_);
}

bool HiveSearch::MatchTextData(const ValueInfo& value) {
  if (!IsSearchedText(value.Type) || value.Data.state != ReadState::Ok || !Take(value.Data.length)) {
    return false;
  }
  units_.resize(value.Data.length / 2);
  size_t at = 0;  // in bytes; every piece but the last is of even length
  value.Data.ForEachPiece([&](std::span<const uint8_t> piece) {
    const size_t take = std::min(piece.size(), units_.size() * 2 - at);
    std::memcpy(reinterpret_cast<char*>(units_.data()) + at, piece.data(), take);
    at += take;
  });
  if constexpr (std::endian::native == std::endian::big) {
    for (char16_t& u : units_) u = static_cast<char16_t>((u >> 8) | (u << 8));
  }
  for (std::u16string_view text : TextStrings(units_, value.Type)) {
    if (MatchText(text)) return true;
  }
  return false;
}

bool HiveSearch::MatchByteData(const ValueInfo& value) {
  if (value.Data.state != ReadState::Ok || !Take(value.Data.length)) return false;
  if (value.Data.more.empty()) return MatchBytes(value.Data.first);
  gathered_.clear();
  value.Data.ForEachPiece(
      [&](std::span<const uint8_t> piece) { gathered_.insert(gathered_.end(), piece.begin(), piece.end()); });
  return MatchBytes(gathered_);
}

ValueMatch HiveSearch::MatchValue(const ValueInfo& value) {
  ValueMatch match;
  if (!value.Ref) return match;
  if (valueNames_ && Take(value.Name.length)) {
    units_.clear();
    value.Name.AppendUnits(units_);
    match.name = MatchText(units_);
  }
  if (data_) {
    match.data = hex_ ? MatchByteData(value) : MatchTextData(value);
  }
  return match;
}

SearchOutcome SearchHive(const HiveImage& image, HiveSearch& search,
                         const std::function<void(const SearchHit&)>& onHit) {
  SearchOutcome outcome;
  KeyInfo root;
  if (!GetRootKey(image, root)) return outcome;
  KeyWalk walk(image, "ROOT");
  struct Visitor {
    const HiveImage& image;
    HiveSearch& search;
    KeyWalk& walk;
    const std::function<void(const SearchHit&)>& onHit;
    uint64_t hits = 0;
    void Hit(MatchKind kind, const KeyInfo& key, const ValueInfo* value) {
      ++hits;
      onHit(SearchHit{kind, walk.CurrentPath(), key, value});
    }
    bool Enter(const KeyInfo& key, uint32_t depth) {
      if (search.BudgetOut()) return false;
      if (depth > 0 && search.KeyMatches(key)) Hit(MatchKind::Key, key, nullptr);
      if (!search.LooksAtValues() || key.ValueCount == 0) return true;
      const ValueList list = ReadValues(image, key, walk.Budget());
      DamageReport& damage = walk.Damage();
      damage.Add(DamageKind::Values, list.unreadable, [&] { return walk.CurrentPath(); });
      if (search.LooksAtData()) {
        damage.Add(DamageKind::ValueData, list.dataDamaged, [&] { return walk.CurrentPath(); });
      }
      for (const ValueInfo& value : list.values) {
        const ValueMatch match = search.MatchValue(value);
        if (match.name) Hit(MatchKind::Value, key, &value);
        if (match.data) Hit(MatchKind::Data, key, &value);
      }
      return true;
    }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t) {}
  } visitor{image, search, walk, onHit};
  const WalkEnd end = walk.Run(root, visitor);
  outcome.damage = walk.Damage();
  outcome.budgetOut = end == WalkEnd::BudgetOut || search.BudgetOut();
  outcome.hits = visitor.hits;
  return outcome;
}

}  // namespace cellbrook
