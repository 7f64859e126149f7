#include "artifacts/artifact_text.h"

#include <nlohmann/json.hpp>

#include "present/timeline.h"

namespace cellbrook {
namespace {

using Json = nlohmann::ordered_json;

Json FieldJson(const FieldValue& v) {
  switch (v.kind) {
    case FieldKind::Null:
      return nullptr;
    case FieldKind::Integer:
      return v.number;
    case FieldKind::Signed:
      return v.SignedValue();
    case FieldKind::Bool:
      return v.number != 0;
    case FieldKind::List:
      return v.list;
    case FieldKind::Object: {
      Json object = Json::object();
      for (const auto& [name, value] : v.members) object[name] = value ? Json(*value) : Json(nullptr);
      return object;
    }
    default:
      return FieldText(v);
  }
}

}  // namespace

std::string ArtifactRecordJson(const ArtifactRecord& record, const std::string& hive) {
  Json object{{"artifact", record.artifact->name}, {"hive", hive}, {"key", record.key}};
  for (size_t i = 0; i < record.fields.size(); ++i) object[record.artifact->fields[i]] = FieldJson(record.fields[i]);
  if (record.damaged) {
    object["damaged"] = true;
    object["error"] = record.error;
  }
  return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ArtifactCsvHeader(const ArtifactDecoder& decoder) {
  std::string text = "key";
  for (const char* f : decoder.fields) text += std::string(",") + f;
  return text + ",damaged,error\r\n";
}

std::string ArtifactCsvLine(const ArtifactRecord& r) {
  std::string text = CsvField(r.key);
  for (const FieldValue& f : r.fields) text += ',' + CsvField(FieldText(f));
  text += r.damaged ? ",true," + CsvField(r.error) : std::string(",,");
  return text + "\r\n";
}

}  // namespace cellbrook
