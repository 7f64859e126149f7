// User hive artifacts: programs run, documents and folders opened, what was
// typed, mapped drives, shell bags, WSL, and run keys and programs shared
// with SOFTWARE.
#include <algorithm>
#include <cctype>
#include <map>
#include <unordered_map>

#include "artifacts/decoders.h"
#include "artifacts/shell_items.h"
#include "present/value_text.h"

namespace cellbrook {
namespace {

constexpr const char* kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";

bool AllDigits(const std::string& s) {
  return !s.empty() && s.size() <= 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An MRU order: entry names most recent first.
class MruOrder {
 public:
  static MruOrder FromList(ValueSet& values) {
    MruOrder order;
    if (auto bytes = values.Bytes("MRUListEx")) {
      for (size_t i = 0; i + 4 <= bytes->size(); i += 4) {
        const uint32_t n = Le32At(*bytes, i);
        if (n == 0xFFFFFFFFu) break;
        order.names_.push_back(std::to_string(n));
      }
    } else if (auto letters = values.StringValue("MRUList")) {
      for (char c : *letters) order.names_.push_back(std::string(1, c));
    }
    return order;
  }
  // Looked up once a value: a hash of first positions keeps hostile lists linear.
  FieldValue Position(const std::string& name) const {
    if (positions_.empty() && !names_.empty()) {
      for (size_t i = 0; i < names_.size(); ++i) positions_.emplace(names_[i], i);
    }
    const auto it = positions_.find(name);
    return it == positions_.end() ? NullField() : IntField(it->second);
  }

 private:
  std::vector<std::string> names_;
  mutable std::unordered_map<std::string, size_t> positions_;
};

std::string Rot13(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>('A' + (c - 'A' + 13) % 26);
  }
  return out;
}

// Folder GUIDs named through the shell's table, then the hive's CLSID keys
// (each CLSID list read once, its names hashed).
class HiveGuidNames {
 public:
  explicit HiveGuidNames(DecodeContext& ctx) : ctx_(ctx) {}
  std::string operator()(const std::string& guid) {
    const auto cached = cache_.find(guid);
    if (cached != cache_.end()) return cached->second;
    std::string name = KnownFolderName(guid);
    if (name.empty()) {
      if (!classesRead_) ReadClasses();
      for (const auto& names : classes_) {
        const auto it = names.find(Lower(guid));
        if (it == names.end()) continue;
        ValueSet v = ctx_.Values(it->second);
        if (auto text = v.StringValue(""); text && !text->empty()) {
          name = *text;
          break;
        }
      }
    }
    if (name.empty()) name = guid;
    cache_.emplace(guid, name);
    return name;
  }
  GuidNamer Namer() {
    return [this](const std::string& guid) { return (*this)(guid); };
  }

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  void ReadClasses() {
    classesRead_ = true;
    for (const char* where : {"CLSID", "Wow6432Node\\CLSID", "Software\\Classes\\CLSID"}) {
      auto& names = classes_.emplace_back();
      for (Node& key : ctx_.Children(ctx_.Path(ctx_.Root(), where))) {
        std::string folded = Lower(key.name);
        names.emplace(std::move(folded), std::move(key));
      }
    }
  }

  DecodeContext& ctx_;
  std::map<std::string, std::string> cache_;
  bool classesRead_ = false;
  std::vector<std::unordered_map<std::string, Node>> classes_;
};

// Numbered MRU values of one key, in value list order.
template <class Fn>
void EachNumbered(DecodeContext& ctx, const Node& key, Fn&& fn) {
  ValueSet v = ctx.Values(key);
  const MruOrder order = MruOrder::FromList(v);
  for (size_t i = 0; i < v.All().size(); ++i) {
    if (!AllDigits(v.Names()[i])) continue;
    fn(v.All()[i], v.Names()[i], order.Position(v.Names()[i]));
  }
}

// Lettered MRU values of one key (every named value but the MRUList itself),
// in value list order; the set is passed for lookups and its problems.
template <class Fn>
void EachLettered(DecodeContext& ctx, const Node& key, Fn&& fn) {
  ValueSet v = ctx.Values(key);
  const MruOrder order = MruOrder::FromList(v);
  for (size_t i = 0; i < v.All().size(); ++i) {
    const std::string& name = v.Names()[i];
    if (SameName(name, "MRUList") || name.empty()) continue;
    fn(v.All()[i], name, order.Position(name), v);
  }
}

// The UTF-16 text up to its NUL, and the offset past it.
std::string LeadingText(std::span<const uint8_t> b, size_t& end) {
  size_t i = 0;
  while (i + 1 < b.size() && (b[i] | b[i + 1]) != 0) i += 2;
  end = std::min(i + 2, b.size());
  return Utf16Text(b.first(std::min(i, b.size())));
}

}  // namespace

void DecodeUserAssist(DecodeContext& ctx) {
  for (const Node& guidKey : ctx.Children(ctx.UserPath(std::string(kExplorer) + "\\UserAssist"))) {
    if (ctx.Exhausted()) return;
    ValueSet guidValues = ctx.Values(guidKey);
    const std::optional<uint32_t> version = guidValues.Dword("Version");
    const Node count = ctx.Child(guidKey, "Count");
    ValueSet v = ctx.Values(count);
    for (size_t i = 0; i < v.All().size(); ++i) {
      const ValueInfo& value = v.All()[i];
      const std::string name = Rot13(v.Names()[i]);
      if (name == "UEME_CTLSESSION") continue;
      ArtifactRecord& r = ctx.Add(count, &value);
      r.Set("guid", TextField(guidKey.name));
      r.Set("name", TextField(name));
      std::vector<uint8_t> data;
      if (!ReadValueBytes(value, data)) {
        r.Set("version", OptionalInt(version));
        r.Damage("the data of the value cannot be read");
        continue;
      }
      std::optional<uint32_t> layout = version;
      if (!layout && data.size() == 16) layout = 3;
      if (!layout && data.size() == 72) layout = 5;
      r.Set("version", OptionalInt(layout));
      if (layout == 5u) {
        r.Set("session_id", IntField(Le32At(data, 0)));
        if (data.size() < 68) {
          r.Damage("version 5 entry of " + std::to_string(data.size()) + " bytes (needs 68)");
          if (data.size() >= 8) r.Set("run_count", IntField(Le32At(data, 4)));
          continue;
        }
        r.Set("run_count", IntField(Le32At(data, 4)));
        r.Set("focus_count", IntField(Le32At(data, 8)));
        r.Set("focus_time_ms", IntField(Le32At(data, 12)));
        r.Set("last_run", TimeField(Le64At(data, 60)));
      } else if (layout == 3u) {
        if (data.size() < 16) {
          r.Damage("version 3 entry of " + std::to_string(data.size()) + " bytes (needs 16)");
          continue;
        }
        const uint32_t runs = Le32At(data, 4);
        r.Set("session_id", IntField(Le32At(data, 0)));
        r.Set("run_count", IntField(runs >= 5 ? runs - 5 : runs));
        r.Set("last_run", TimeField(Le64At(data, 8)));
      } else {
        r.Damage("unknown layout");
      }
    }
  }
}

void DecodeRecentDocs(DecodeContext& ctx) {
  const Node top = ctx.UserPath(std::string(kExplorer) + "\\RecentDocs");
  if (!top) return;
  HiveGuidNames names(ctx);
  std::vector<Node> keys{top};
  for (Node& sub : ctx.Children(top)) keys.push_back(std::move(sub));
  for (size_t k = 0; k < keys.size() && !ctx.Exhausted(); ++k) {
    const Node& key = keys[k];
    EachNumbered(ctx, key, [&](const ValueInfo& value, const std::string& name, FieldValue position) {
      ArtifactRecord& r = ctx.Add(key, &value);
      r.Set("extension", k == 0 ? NullField() : TextField(key.name));
      r.Set("value_name", TextField(name));
      const bool first = !position.IsNull() && position.number == 0;
      r.Set("position", std::move(position));
      r.Set("opened_time", first ? TimeField(key.info.LastWritten) : NullField());
      std::vector<uint8_t> data;
      if (!ReadRecordData(r, value, data)) return;
      size_t end = 0;
      r.Set("name", TextField(LeadingText(data, end)));
      if (end + 2 <= data.size()) {
        const ShellItemList list = DecodeShellItemList(std::span(data).subspan(end), names.Namer());
        if (!list.items.empty()) {
          const auto& item = list.items.front();
          r.Set("lnk_name", item.name ? TextField(*item.name) : NullField());
        }
        if (list.damaged) r.Damage(list.error);
      }
    });
  }
}

void DecodeRunMru(DecodeContext& ctx) {
  const Node key = ctx.UserPath(std::string(kExplorer) + "\\RunMRU");
  EachLettered(ctx, key, [&](const ValueInfo& value, const std::string& name, FieldValue position, ValueSet&) {
    ArtifactRecord& r = ctx.Add(key, &value);
    r.Set("value_name", TextField(name));
    r.Set("position", std::move(position));
    std::vector<uint8_t> data;
    if (!ReadRecordData(r, value, data)) return;
    if (auto text = StringOf(value, data)) {
      if (text->size() >= 2 && text->compare(text->size() - 2, 2, "\\1") == 0) text->resize(text->size() - 2);
      r.Set("command", TextField(*text));
    }
  });
}

namespace {

// url1, url2 ...: N, or nullopt.
std::optional<uint64_t> UrlNumber(const std::string& name) {
  if (name.size() < 4 || !SameName(name.substr(0, 3), "url") || !AllDigits(name.substr(3))) return std::nullopt;
  return std::stoull(name.substr(3));
}

void DecodeTyped(DecodeContext& ctx, const char* path, const char* field, const char* timesPath) {
  const Node key = ctx.UserPath(path);
  ValueSet v = ctx.Values(key);
  ValueSet times = timesPath ? ctx.Values(ctx.UserPath(timesPath)) : ValueSet();
  for (size_t i = 0; i < v.All().size(); ++i) {
    const std::string& name = v.Names()[i];
    const auto number = UrlNumber(name);
    if (!number) continue;
    ArtifactRecord& r = ctx.Add(key, &v.All()[i]);
    r.Set("value_name", TextField(name));
    r.Set("position", IntField(*number));
    std::vector<uint8_t> data;
    if (ReadRecordData(r, v.All()[i], data)) {
      if (auto text = StringOf(v.All()[i], data)) r.Set(field, TextField(*text));
    }
    if (timesPath) {
      auto t = times.Bytes(name);
      if (t && t->size() >= 8) r.Set("typed_time", TimeField(Le64At(*t, 0)));
      ctx.Settle(r, times);
    }
  }
}

}  // namespace

void DecodeTypedPaths(DecodeContext& ctx) {
  DecodeTyped(ctx, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\TypedPaths", "path", nullptr);
}

void DecodeTypedUrls(DecodeContext& ctx) {
  DecodeTyped(ctx, "Software\\Microsoft\\Internet Explorer\\TypedURLs", "url",
              "Software\\Microsoft\\Internet Explorer\\TypedURLsTime");
}

void DecodeWordWheelQuery(DecodeContext& ctx) {
  const Node top = ctx.UserPath(std::string(kExplorer) + "\\WordWheelQuery");
  if (!top) return;
  std::vector<Node> keys{top};
  for (Node& sub : ctx.Children(top)) keys.push_back(std::move(sub));
  for (const Node& key : keys) {
    EachNumbered(ctx, key, [&](const ValueInfo& value, const std::string& name, FieldValue position) {
      ArtifactRecord& r = ctx.Add(key, &value);
      r.Set("value_name", TextField(name));
      r.Set("position", std::move(position));
      std::vector<uint8_t> data;
      if (!ReadRecordData(r, value, data)) return;
      r.Set("term", TextField(Utf16Text(data)));
    });
  }
}

void DecodeOpenSaveMru(DecodeContext& ctx) {
  const Node dialogs = ctx.UserPath(std::string(kExplorer) + "\\ComDlg32");
  HiveGuidNames names(ctx);
  for (const Node& ext : ctx.Children(ctx.Child(dialogs, "OpenSavePidlMRU"))) {
    if (ctx.Exhausted()) return;
    EachNumbered(ctx, ext, [&](const ValueInfo& value, const std::string& name, FieldValue position) {
      ArtifactRecord& r = ctx.Add(ext, &value);
      r.Set("extension", TextField(ext.name));
      r.Set("value_name", TextField(name));
      r.Set("position", std::move(position));
      std::vector<uint8_t> data;
      if (!ReadRecordData(r, value, data)) return;
      const ShellItemList list = DecodeShellItemList(data, names.Namer());
      r.Set("path", TextField(ItemListPath(list)));
      if (list.damaged) r.Damage(list.error);
    });
  }
  for (const Node& ext : ctx.Children(ctx.Child(dialogs, "OpenSaveMRU"))) {
    EachLettered(ctx, ext, [&](const ValueInfo& value, const std::string& name, FieldValue position, ValueSet& v) {
      ArtifactRecord& r = ctx.Add(ext, &value);
      r.Set("extension", TextField(ext.name));
      r.Set("value_name", TextField(name));
      r.Set("position", std::move(position));
      r.Set("path", v.String(name));
      ctx.Settle(r, v);
    });
  }
}

void DecodeLastVisitedMru(DecodeContext& ctx) {
  const Node dialogs = ctx.UserPath(std::string(kExplorer) + "\\ComDlg32");
  HiveGuidNames names(ctx);
  for (const char* which : {"LastVisitedPidlMRU", "LastVisitedPidlMRULegacy"}) {
    const Node key = ctx.Child(dialogs, which);
    EachNumbered(ctx, key, [&](const ValueInfo& value, const std::string& name, FieldValue position) {
      ArtifactRecord& r = ctx.Add(key, &value);
      r.Set("value_name", TextField(name));
      r.Set("position", std::move(position));
      std::vector<uint8_t> data;
      if (!ReadRecordData(r, value, data)) return;
      size_t end = 0;
      r.Set("executable", TextField(LeadingText(data, end)));
      const ShellItemList list = DecodeShellItemList(std::span(data).subspan(end), names.Namer());
      r.Set("path", TextField(ItemListPath(list)));
      if (list.damaged) r.Damage(list.error);
    });
  }
  const Node xp = ctx.Child(dialogs, "LastVisitedMRU");
  EachLettered(ctx, xp, [&](const ValueInfo& value, const std::string& name, FieldValue position, ValueSet&) {
    ArtifactRecord& r = ctx.Add(xp, &value);
    r.Set("value_name", TextField(name));
    r.Set("position", std::move(position));
    std::vector<uint8_t> data;
    if (!ReadRecordData(r, value, data)) return;
    size_t end = 0;
    r.Set("executable", TextField(LeadingText(data, end)));
    r.Set("path", TextField(Utf16Text(std::span(data).subspan(end))));
  });
}

void DecodeNetworkDrives(DecodeContext& ctx) {
  if (ctx.Kind() != HiveKind::Ntuser) return;
  const Node network = ctx.UserPath("Network");
  ctx.EachSubkeyRecord(network, [&](const Node& drive, ValueSet& v, ArtifactRecord& r) {
    r.Set("drive_letter", TextField(drive.name));
    r.Set("remote_path", v.String("RemotePath"));
    r.Set("user_name", v.String("UserName"));
    r.Set("provider_name", v.String("ProviderName"));
    r.Set("connection_type", v.Int("ConnectionType"));
  });
}

namespace {

class BagWalk {
 public:
  explicit BagWalk(DecodeContext& ctx) : ctx_(ctx), names_(ctx) {}

  void Run(const Node& root) { Visit(root, std::string(), 0); }

 private:
  void Visit(const Node& key, const std::string& parentPath, uint32_t depth) {
    if (ctx_.Exhausted()) return;
    branch_.push_back(key.info.Ref);
    ValueSet v = ctx_.Values(key);
    const MruOrder order = MruOrder::FromList(v);
    std::vector<Node> children = ctx_.Children(key);
    std::unordered_map<std::string, size_t> childByName;  // first of each name
    for (size_t c = 0; c < children.size(); ++c) childByName.emplace(children[c].name, c);
    for (size_t i = 0; i < v.All().size(); ++i) {
      const std::string& name = v.Names()[i];
      if (!AllDigits(name)) continue;
      const ValueInfo& value = v.All()[i];
      ArtifactRecord& r = ctx_.Add(key, &value);
      r.Set("value_name", TextField(name));
      r.Set("position", order.Position(name));
      const auto found = childByName.find(name);
      const Node* sub = found == childByName.end() ? nullptr : &children[found->second];
      if (sub) {
        ValueSet subValues = ctx_.Values(*sub);
        r.Set("node_slot", subValues.Int("NodeSlot"));
      }
      std::vector<uint8_t> data;
      ShellItem item;
      if (!ReadValueBytes(value, data)) {
        item.damaged = true;
        item.error = "the data of the value cannot be read";
      } else {
        const ShellItemList list = DecodeShellItemList(data, names_.Namer());
        if (!list.items.empty()) item = list.items.front();
        if (list.damaged && !item.damaged) {
          item.damaged = true;
          item.error = list.error;
        }
        if (list.items.empty() && !list.damaged) {
          item.damaged = true;
          item.error = "empty shell item list";
        }
      }
      std::string path = parentPath;
      AppendItemPath(path, item.name);
      r.Set("path", TextField(path));
      SetShellItemFields(r, item);
      if (item.damaged && item.itemType == "unknown" && item.classType == 0 && !item.raw) {
        r.Set("item_type", NullField());
        r.Set("class_type", NullField());
      }
      if (sub && depth + 1 < 64 && !OnBranch(sub->info.Ref)) Visit(*sub, path, depth + 1);
    }
    branch_.pop_back();
  }
  bool OnBranch(KeyRef ref) const { return std::find(branch_.begin(), branch_.end(), ref) != branch_.end(); }

  DecodeContext& ctx_;
  HiveGuidNames names_;
  std::vector<KeyRef> branch_;
};

}  // namespace

void DecodeShellBags(DecodeContext& ctx) {
  const char* const kUser[] = {"Software\\Microsoft\\Windows\\Shell\\BagMRU",
                               "Software\\Microsoft\\Windows\\ShellNoRoam\\BagMRU"};
  if (ctx.Kind() == HiveKind::Usrclass) {
    const Node root = ctx.Path(ctx.Root(), "Local Settings\\Software\\Microsoft\\Windows\\Shell\\BagMRU");
    if (root) BagWalk(ctx).Run(root);
    return;
  }
  for (const char* where : kUser) {
    const Node root = ctx.UserPath(where);
    if (root) BagWalk(ctx).Run(root);
  }
}

void DecodeWslDistributions(DecodeContext& ctx) {
  const Node lxss = ctx.UserPath("Software\\Microsoft\\Windows\\CurrentVersion\\Lxss");
  if (!lxss) return;
  ValueSet top = ctx.Values(lxss);
  const auto defaultGuid = top.StringValue("DefaultDistribution");
  for (const Node& dist : ctx.Children(lxss)) {
    if (dist.name.size() != 38 || dist.name.front() != '{' || dist.name.back() != '}') continue;
    ValueSet v = ctx.Values(dist);
    ArtifactRecord& r = ctx.Add(dist);
    r.Set("guid", TextField(dist.name));
    r.Set("distribution_name", v.String("DistributionName"));
    r.Set("base_path", v.String("BasePath"));
    r.Set("package_family_name", v.String("PackageFamilyName"));
    r.Set("kernel_command_line", v.String("KernelCommandLine"));
    r.Set("default_uid", v.Int("DefaultUid"));
    r.Set("version", v.Int("Version"));
    r.Set("state", v.Int("State"));
    const auto flags = v.Dword("Flags");
    r.Set("flags", OptionalInt(flags));
    r.Set("enable_interop", flags ? BoolField(*flags & 0x1) : NullField());
    r.Set("append_nt_path", flags ? BoolField(*flags & 0x2) : NullField());
    r.Set("enable_drive_mounting", flags ? BoolField(*flags & 0x4) : NullField());
    r.Set("default_environment", v.Multi("DefaultEnvironment"));
    r.Set("is_default", BoolField(defaultGuid && SameName(*defaultGuid, dist.name)));
    ctx.Settle(r, v);
  }
}

namespace {

// The CurrentVersion keys run_keys and installed_programs read.
std::vector<Node> CurrentVersionKeys(DecodeContext& ctx) {
  std::vector<Node> keys;
  if (ctx.Kind() == HiveKind::Software) {
    for (const char* p : {"Microsoft\\Windows\\CurrentVersion", "Wow6432Node\\Microsoft\\Windows\\CurrentVersion"}) {
      if (Node k = ctx.Path(ctx.Root(), p)) keys.push_back(std::move(k));
    }
  } else if (Node k = ctx.UserPath("Software\\Microsoft\\Windows\\CurrentVersion")) {
    keys.push_back(std::move(k));
  }
  return keys;
}

}  // namespace

void DecodeRunKeys(DecodeContext& ctx) {
  for (const Node& cv : CurrentVersionKeys(ctx)) {
    for (const char* which : {"Run", "RunOnce", "RunServices", "RunServicesOnce", "Policies\\Explorer\\Run"}) {
      const Node key = ctx.Path(cv, which);
      ValueSet v = ctx.Values(key);
      for (size_t i = 0; i < v.All().size(); ++i) {
        const ValueInfo& value = v.All()[i];
        if (v.Names()[i].empty()) continue;
        ArtifactRecord& r = ctx.Add(key, &value);
        r.Set("run_key", TextField(key.name));
        r.Set("name", TextField(v.Names()[i]));
        r.Set("value_type", TextField(ValueTypeName(value.Type)));
        std::vector<uint8_t> data;
        if (ReadRecordData(r, value, data)) {
          if (auto text = StringOf(value, data)) r.Set("command", TextField(*text));
        }
      }
    }
  }
}

void DecodeInstalledPrograms(DecodeContext& ctx) {
  for (const Node& cv : CurrentVersionKeys(ctx)) {
    const bool inBudget =
        ctx.EachSubkeyRecord(ctx.Child(cv, "Uninstall"), [&](const Node& program, ValueSet& v, ArtifactRecord& r) {
          r.Set("name", TextField(program.name));
          r.Set("display_name", v.String("DisplayName"));
          r.Set("display_version", v.String("DisplayVersion"));
          r.Set("publisher", v.String("Publisher"));
          r.Set("install_location", v.String("InstallLocation"));
          r.Set("install_source", v.String("InstallSource"));
          r.Set("uninstall_string", v.String("UninstallString"));
          r.Set("install_date", v.String("InstallDate"));
          r.Set("estimated_size", v.Int("EstimatedSize"));
          r.Set("system_component", v.Int("SystemComponent"));
        });
    if (!inBudget) return;
  }
}

}  // namespace cellbrook
