#include "cli/cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <string_view>

#include "export/registry_text_writer.h"
#include "export/value_saver.h"
#include "present/caption_collator.h"
#include "hive/hive_file.h"
#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "present/value_rows.h"

namespace cellbrook {
namespace {

constexpr int kExitOk = 0, kExitUsage = 1, kExitUnreadable = 2, kExitNotFound = 3,
              kExitFailed = 4;
constexpr const char* kVersion = "cellbrook-cli 1.0";
constexpr const char* kTooManyKeys = "Too many keys: the hive repeats keys in its subkey indexes";

constexpr const char* kUsage =
    "usage: cellbrook-cli keys HIVE [KEYPATH]\n"
    "       cellbrook-cli values HIVE KEYPATH\n"
    "       cellbrook-cli export HIVE KEYPATH OUTFILE [--prefix PREFIX]\n"
    "       cellbrook-cli save HIVE KEYPATH VALUENAME OUTFILE\n"
    "       cellbrook-cli --help | --version\n";

constexpr const char* kHelp =
    "Reads a Windows registry hive file (regf) without changing it.\n"
    "\n"
    "  keys HIVE [KEYPATH]      every key below KEYPATH (default ROOT), one path a line\n"
    "  values HIVE KEYPATH      the key's values: name, TAB, type, TAB, display text\n"
    "  export HIVE KEYPATH OUTFILE [--prefix PREFIX]\n"
    "                           the key and its subtree as a registry file (UTF-16),\n"
    "                           ROOT replaced by PREFIX (default HKEY_CURRENT_USER);\n"
    "                           OUTFILE - is standard output\n"
    "  save HIVE KEYPATH VALUENAME OUTFILE\n"
    "                           the value's data bytes; VALUENAME \"\" is the unnamed value\n"
    "\n"
    "KEYPATH is ROOT followed by key names separated by backslashes, e.g. ROOT\\Software.\n"
    "Exit status: 0 done, 1 usage error, 2 the hive cannot be read, 3 key or value not\n"
    "found, 4 the command failed.\n";

class Command {
 public:
  Command(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  int Fail(int code, const std::string& message) {
    std::fprintf(err_, "%s\n", message.c_str());
    return code;
  }

  // Loads the hive; false after reporting the failure.
  bool Load(const std::string& path) {
    const LoadOutcome outcome = LoadHiveFile(path, block_, image_);
    if (outcome == LoadOutcome::Loaded) return true;
    Fail(kExitUnreadable, LoadOutcomeText(outcome));
    return false;
  }

  std::optional<FoundKey> Find(const std::string& keyPath) {
    std::optional<FoundKey> found = FindKeyByPath(image_, keyPath);
    if (!found) Fail(kExitNotFound, "Key not found: " + keyPath);
    return found;
  }

  int Keys(const std::string& hive, const std::string& keyPath) {
    if (!Load(hive)) return kExitUnreadable;
    const std::optional<FoundKey> found = Find(keyPath);
    if (!found) return kExitNotFound;
    struct Lister {
      std::FILE* out;
      std::vector<std::string> paths;
      bool Enter(const KeyInfo& key, uint32_t depth) {
        if (depth > 0) {
          paths.resize(depth);
          paths.push_back(paths[depth - 1] + '\\' + KeyNameString(key));
          std::fwrite(paths.back().data(), 1, paths.back().size(), out);
          std::fputc('\n', out);
        }
        return true;
      }
      void Leave(const KeyInfo&, uint32_t) {}
      void Missing(uint32_t) {}
    } lister{out_, {found->path}};
    const size_t depth = found->ancestors.size();
    const uint32_t maxDepth = depth < kMaxKeyDepth ? kMaxKeyDepth - depth : 0;
    const WalkEnd end = WalkKeys(image_, found->key, maxDepth, lister, found->ancestors);
    if (std::fflush(out_) != 0) return Fail(kExitFailed, "Write failed: standard output");
    return end == WalkEnd::TooManyKeys ? Fail(kExitFailed, kTooManyKeys) : kExitOk;
  }

  int Values(const std::string& hive, const std::string& keyPath) {
    if (!Load(hive)) return kExitUnreadable;
    const std::optional<FoundKey> found = Find(keyPath);
    if (!found) return kExitNotFound;
    std::vector<ValueRow> rows = ValueRowsInIndexOrder(image_, found->key);
    SortValueRows(rows, CaptionCollator());
    for (const ValueRow& row : rows) {
      std::fprintf(out_, "%s\t%s\t%s\n", row.caption.c_str(), row.typeName, row.text.c_str());
    }
    if (std::fflush(out_) != 0) return Fail(kExitFailed, "Write failed: standard output");
    return kExitOk;
  }

  int Export(const std::string& hive, const std::string& keyPath, const std::string& outFile,
             const std::string& prefix) {
    if (!Load(hive)) return kExitUnreadable;
    const std::optional<FoundKey> found = Find(keyPath);
    if (!found) return kExitNotFound;
    const bool toStdout = outFile == "-";
    if (toStdout) std::fflush(out_);
    const int fd = toStdout ? ::fileno(out_)
                            : ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                                     0666);
    if (fd < 0) return Fail(kExitFailed, "Unable to create target file!");
    int code = kExitOk;
    try {
      ExportRegFile(image_, prefix + found->path.substr(4), fd, found->key.Node);
    } catch (const ExportError& e) {
      code = Fail(kExitFailed, e.what());
    }
    if (!toStdout && ::close(fd) != 0 && code == kExitOk) {
      code = Fail(kExitFailed, "Write failed: the file could not be closed");
    }
    return code;
  }

  int Save(const std::string& hive, const std::string& keyPath, const std::string& valueName,
           const std::string& outFile) {
    if (!Load(hive)) return kExitUnreadable;
    const std::optional<FoundKey> found = Find(keyPath);
    if (!found) return kExitNotFound;
    const std::optional<ValueInfo> value = FindValueByName(image_, found->key, valueName);
    if (!value) return Fail(kExitNotFound, "Value not found: " + valueName);
    const SaveCheck check = CheckValueForSaving(image_, *value);
    if (check != SaveCheck::Ready) return Fail(kExitFailed, SaveCheckText(check));
    const SaveOutcome outcome = SaveValueData(image_, *value, outFile);
    if (outcome != SaveOutcome::Saved) return Fail(kExitFailed, SaveOutcomeText(outcome));
    return kExitOk;
  }

 private:
  std::FILE* out_;
  std::FILE* err_;
  HiveBlock block_;
  HiveImage image_;
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  auto usage = [err](const char* problem) {
    std::fprintf(err, "cellbrook-cli: %s\n%s", problem, kUsage);
    return kExitUsage;
  };
  if (args.empty()) return usage("no command given");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h") {
    std::fprintf(out, "%s\n%s", kUsage, kHelp);
    return kExitOk;
  }
  if (command == "--version") {
    std::fprintf(out, "%s\n", kVersion);
    return kExitOk;
  }

  // Positional words, and --prefix for export.
  std::vector<std::string> words;
  std::optional<std::string> prefix;
  for (size_t i = 1; i < args.size(); ++i) {
    if (command == "export" && args[i] == "--prefix") {
      if (i + 1 >= args.size()) return usage("--prefix needs a value");
      prefix = args[++i];
    } else {
      words.push_back(args[i]);
    }
  }

  Command run(out, err);
  if (command == "keys" && (words.size() == 1 || words.size() == 2)) {
    return run.Keys(words[0], words.size() == 2 ? words[1] : "ROOT");
  }
  if (command == "values" && words.size() == 2) return run.Values(words[0], words[1]);
  if (command == "export" && words.size() == 3) {
    return run.Export(words[0], words[1], words[2], prefix.value_or("HKEY_CURRENT_USER"));
  }
  if (command == "save" && words.size() == 4) {
    return run.Save(words[0], words[1], words[2], words[3]);
  }
  if (command == "keys" || command == "values" || command == "export" || command == "save") {
    return usage("wrong number of arguments");
  }
  return usage(("unknown command: " + command).c_str());
}

}  // namespace cellbrook
