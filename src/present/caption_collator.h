// The value list's order: a locale-aware, case-sensitive comparison of
// captions (UTF-8), from an ICU collator for the user's locale, or en_US
// when the process locale is C or POSIX.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct UCollator;

namespace cellbrook {

// The ICU locale the collator uses, from LC_ALL, LC_COLLATE and LANG.
std::string CollationLocaleName();

class CaptionCollator {
 public:
  CaptionCollator();
  ~CaptionCollator();
  CaptionCollator(const CaptionCollator&) = delete;
  CaptionCollator& operator=(const CaptionCollator&) = delete;

  // Negative, zero or positive, like strcmp.
  int Compare(std::string_view a, std::string_view b) const;
  bool Less(std::string_view a, std::string_view b) const { return Compare(a, b) < 0; }

 private:
  UCollator* collator_ = nullptr;
};

}  // namespace cellbrook
