// The transaction logs asked for when a hive is opened (HiveDocument in
// src/document/ opens it): the ones found beside it, named ones, or none.
#pragma once

#include <string>
#include <vector>

namespace cellbrook {

struct LogChoice {
  bool use = true;                 // false: read the primary as it is
  std::vector<std::string> named;  // instead of discovering them, when not empty
};

}  // namespace cellbrook
