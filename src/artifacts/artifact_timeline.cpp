#include "artifacts/artifact_timeline.h"

#include <algorithm>
#include <string_view>

namespace cellbrook {
namespace {

// What a record is about, for the event text.
std::string Subject(const ArtifactRecord& r) {
  const std::string_view name = r.artifact->name;
  auto text = [&](const char* field) {
    const FieldValue& v = r.Get(field);
    return v.kind == FieldKind::Text ? v.text : std::string();
  };
  if (name == "usbstor") {
    std::string s;
    for (const char* f : {"vendor", "product", "serial_number"}) {
      const std::string t = text(f);
      if (t.empty()) continue;
      if (!s.empty()) s += ' ';
      s += t;
    }
    return s;
  }
  if (name == "usb_devices") return text("device_desc").empty() ? text("device_id") : text("device_desc");
  if (name == "sam_users") return text("user_name");
  if (name == "profile_list") return text("profile_path").empty() ? text("sid") : text("profile_path");
  if (name == "os_version") return text("product_name");
  if (name == "network_profiles") return text("profile_name");
  if (name == "userassist" || name == "recentdocs") return text("name");
  for (const char* f : {"path", "command", "url", "term", "executable", "application_path", "distribution_name",
                        "display_name", "name", "interface", "sid"}) {
    if (r.artifact->FieldIndex(f) >= 0 && !text(f).empty()) return text(f);
  }
  return {};
}

std::string Phrase(std::string_view field) {
  std::string p(field);
  std::replace(p.begin(), p.end(), '_', ' ');
  constexpr std::string_view kTime = " time";
  if (p.size() > kTime.size() && p.compare(p.size() - kTime.size(), kTime.size(), kTime) == 0) {
    p.resize(p.size() - kTime.size());
  }
  return p;
}

}  // namespace

std::vector<ArtifactEvent> ArtifactEvents(const ArtifactRun& run) {
  std::vector<ArtifactEvent> events;
  for (const ArtifactRecord& r : run.records) {
    std::string subject;
    bool subjectMade = false;
    for (size_t i = 0; i < r.fields.size(); ++i) {
      const FieldValue& v = r.fields[i];
      const char* field = r.artifact->fields[i];
      if (v.kind != FieldKind::Time || std::string_view(field) == "last_written") continue;
      if (!subjectMade) {
        subject = Subject(r);
        subjectMade = true;
      }
      std::string text = std::string(r.artifact->name) + ": " + Phrase(field);
      if (!subject.empty()) text += ' ' + subject;
      const FieldValue& runs = r.Get("run_count");
      if (runs.kind == FieldKind::Integer)
        text += " (" + std::to_string(runs.number) + (runs.number == 1 ? " run)" : " runs)");
      events.push_back({v.number, r.key, r.artifact->name, field, std::move(text)});
    }
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const ArtifactEvent& a, const ArtifactEvent& b) { return a.time > b.time; });
  return events;
}

}  // namespace cellbrook
