#include "present/caption_collator.h"

#include <unicode/ucol.h>

#include <cstdlib>
#include <cstring>

namespace cellbrook {

std::string CollationLocaleName() {
  const char* name = nullptr;
  for (const char* var : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != 0) {
      name = v;
      break;
    }
  }
  std::string locale = name ? name : "";
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX") return "en_US";
  return locale;
}

CaptionCollator::CaptionCollator() {
  UErrorCode status = U_ZERO_ERROR;
  collator_ = ucol_open(CollationLocaleName().c_str(), &status);
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    collator_ = ucol_open("en_US", &status);
  }
  if (U_FAILURE(status)) collator_ = nullptr;
}

CaptionCollator::~CaptionCollator() {
  if (collator_ != nullptr) ucol_close(collator_);
}

int CaptionCollator::Compare(std::string_view a, std::string_view b) const {
  if (collator_ != nullptr) {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(collator_, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                                static_cast<int32_t>(b.size()), &status);
    if (U_SUCCESS(status) && r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
    if (U_SUCCESS(status)) return 0;
  }
  return a.compare(b);  // byte order if ICU is unusable
}

}  // namespace cellbrook
