#include "artifacts/artifact_run.h"

#include "artifacts/decode_context.h"
#include "hive/key_lookup.h"

namespace cellbrook {

std::string ArtifactRun::DamageSummary() const {
  std::string text;
  auto clause = [&](const std::string& part) {
    if (!text.empty()) text += "; ";
    text += part;
  };
  if (damagedRecords > 0) {
    clause(std::to_string(damagedRecords) + (damagedRecords == 1 ? " record" : " records") +
           " could not be decoded whole (marked damaged)");
  }
  if (skippedEntries > 0) {
    clause(std::to_string(skippedEntries) + " subkey or value entries that lead nowhere were skipped (first below " +
           firstSkipped + ")");
  }
  for (const std::string& name : stopped) clause(name + " stopped early: too many index entries");
  return text;
}

ArtifactRun RunArtifacts(const HiveImage& image, const std::vector<const ArtifactDecoder*>& selected) {
  return RunArtifactsAs(image, DetectHiveKind(image), selected);
}

ArtifactRun RunArtifactsAs(const HiveImage& image, HiveKindGuess kind,
                           const std::vector<const ArtifactDecoder*>& selected) {
  ArtifactRun run;
  run.kind = kind;
  std::vector<const ArtifactDecoder*> decoders = selected;
  if (decoders.empty()) {
    for (const ArtifactDecoder& d : ArtifactDecoders()) decoders.push_back(&d);
  }
  for (const ArtifactDecoder* decoder : decoders) {
    if (!decoder->AppliesTo(run.kind.kind)) continue;
    const size_t before = run.records.size();
    DecodeContext ctx(image, run.kind, *decoder, run.records);
    decoder->decode(ctx);
    for (size_t i = before; i < run.records.size(); ++i) run.damagedRecords += run.records[i].damaged;
    if (ctx.SkippedCount() > 0) {
      if (run.skippedEntries == 0) run.firstSkipped = ctx.FirstSkipped();
      run.skippedEntries += ctx.SkippedCount();
    }
    if (ctx.Exhausted()) run.stopped.push_back(decoder->name);
  }
  return run;
}

void SidNames::Learn(const ArtifactRun& run) {
  std::string localSid;
  for (const ArtifactRecord& r : run.records) {
    if (std::string_view(r.artifact->name) == "local_sid" && r.Get("sid").kind == FieldKind::Text) {
      localSid = r.Get("sid").text;
    }
  }
  for (const ArtifactRecord& r : run.records) {
    const std::string_view name = r.artifact->name;
    if (name == "sam_users" && !localSid.empty() && r.Get("user_name").kind == FieldKind::Text &&
        !r.Get("user_name").text.empty()) {
      names_[localSid + "-" + std::to_string(r.Get("rid").number)] = r.Get("user_name").text;
    } else if (name == "profile_list" && r.Get("profile_path").kind == FieldKind::Text) {
      const std::string& path = r.Get("profile_path").text;
      const size_t cut = path.find_last_of('\\');
      const std::string user = cut == std::string::npos ? path : path.substr(cut + 1);
      if (!user.empty()) names_.emplace(r.Get("sid").text, user);
    }
  }
}

void SidNames::Learn(const HiveImage& image) {
  const HiveKindGuess kind = DetectHiveKind(image);
  std::vector<const ArtifactDecoder*> lenders;
  if (kind.kind == HiveKind::Sam) {
    lenders = {FindArtifactDecoder("local_sid"), FindArtifactDecoder("sam_users")};
  } else if (kind.kind == HiveKind::Software) {
    lenders = {FindArtifactDecoder("profile_list")};
  } else {
    return;
  }
  Learn(RunArtifacts(image, lenders));
}

const std::string* SidNames::Find(const std::string& sid) const {
  const auto it = names_.find(sid);
  return it == names_.end() ? nullptr : &it->second;
}

std::string SidNames::ClassesHiveSid(const HiveImage& image) {
  KeyInfo root;
  if (!GetRootKey(image, root)) return {};
  const std::string name = KeyNameString(root);
  constexpr std::string_view kSuffix = "_Classes";
  if (name.size() <= kSuffix.size() || name.compare(0, 2, "S-") != 0 ||
      !SameName(std::string_view(name).substr(name.size() - kSuffix.size()), kSuffix)) {
    return {};
  }
  return name.substr(0, name.size() - kSuffix.size());
}

void SidNames::Lend(ArtifactRun& run, const std::string& hiveSid) const {
  for (ArtifactRecord& r : run.records) {
    if (r.artifact->FieldIndex("user") < 0) continue;
    std::string sid;
    const std::string_view name = r.artifact->name;
    if (name == "sam_users") {
      // The account's own name, known whether or not a SID is.
      if (r.Get("user_name").kind == FieldKind::Text) r.Set("user", r.Get("user_name"));
      continue;
    }
    if (name == "shellbags") {
      sid = hiveSid;
    } else if (r.Get("sid").kind == FieldKind::Text) {
      sid = r.Get("sid").text;
    }
    if (const std::string* user = sid.empty() ? nullptr : Find(sid)) r.Set("user", TextField(*user));
  }
}

}  // namespace cellbrook
