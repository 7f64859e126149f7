// carve IMAGE OUTDIR: every hive found in a disk image written to OUTDIR as
// OFFSET-NAME.hive, one line (or JSON object) a hive. The image is only read.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "recover/carve/hive_carver.h"
#include "export/evidence_guard.h"
#include "export/whole_file_write.h"
#include "hive/text_codec.h"

namespace cellbrook {
namespace {

constexpr uint64_t kProgressAbove = uint64_t{1} << 30;

using Json = nlohmann::ordered_json;

enum class NewFileResult { Written, Exists, Failed };

// A new file, whole or not at all, never over one that exists.
NewFileResult WriteNewFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  WholeFileWrite file(path, false, WholeFileWrite::Existing::Keep);
  if (file.Ready() && file.Write(bytes.data(), bytes.size()) && file.Commit()) return NewFileResult::Written;
  error = file.Problem();
  return file.TargetExists() ? NewFileResult::Exists : NewFileResult::Failed;
}

bool ReadSysfsDevice(const std::string& path, dev_t& out) {
  std::ifstream in(path);
  unsigned major = 0, minor = 0;
  char colon = 0;
  if (!(in >> major >> colon >> minor) || colon != ':') return false;
  out = makedev(major, minor);
  return true;
}

// True when files made in a folder on device `folder` land in the image:
// the image is that block device or the disk it is a partition of, or the
// file behind that loop device.
bool FolderLiesInImage(dev_t folder, const std::string& imagePath, const ImageSource& image) {
  struct stat st {};
  const bool blockImage = ::stat(imagePath.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
  const std::string sys = "/sys/dev/block/" + std::to_string(major(folder)) + ":" + std::to_string(minor(folder));
  if (blockImage) {
    if (st.st_rdev == folder) return true;
    dev_t parent = 0;
    if (::access((sys + "/partition").c_str(), F_OK) == 0 && ReadSysfsDevice(sys + "/../dev", parent) &&
        parent == st.st_rdev) {
      return true;
    }
  }
  std::ifstream backing(sys + "/loop/backing_file");
  std::string file;
  if (std::getline(backing, file) && ::stat(file.c_str(), &st) == 0) {
    for (const auto& [dev, ino] : image.Files()) {
      if (st.st_dev == dev && st.st_ino == ino) return true;
    }
  }
  return false;
}

std::string Hex(uint64_t v) {
  char b[24];
  std::snprintf(b, sizeof b, "0x%" PRIx64, v);
  return b;
}

class Progress {
 public:
  Progress(std::FILE* err, uint64_t size) : err_(err), on_(size > kProgressAbove && ::isatty(::fileno(err))) {}
  ~Progress() {
    if (on_ && shown_ >= 0) std::fprintf(err_, "\n");
  }
  void Show(uint64_t done, uint64_t total) {
    if (!on_ || total == 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    std::fprintf(err_, "\rcellbrook-cli: scanning the image: %3d%% (%" PRIu64 " of %" PRIu64 " MiB)", percent,
                 done >> 20, total >> 20);
    std::fflush(err_);
  }

 private:
  std::FILE* err_;
  bool on_;
  int shown_ = -1;
};

int Carve(const std::string& imagePath, const std::string& outdir, bool json, std::FILE* out, std::FILE* err) {
  std::string problem;
  std::unique_ptr<ImageSource> image = OpenImageSource(imagePath, problem);
  if (!image) {
    std::fprintf(err, "cellbrook-cli: cannot read the image %s: %s\n", imagePath.c_str(), problem.c_str());
    return kExitUnreadable;
  }
  if (::mkdir(outdir.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(err, "cellbrook-cli: cannot create the folder %s: %s\n", outdir.c_str(), std::strerror(errno));
    return kExitFailed;
  }
  const int dirFd = ::open(outdir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat dirStat {};
  if (dirFd < 0 || ::fstat(dirFd, &dirStat) != 0) {
    std::fprintf(err, "cellbrook-cli: %s is not a folder that can be written\n", outdir.c_str());
    if (dirFd >= 0) ::close(dirFd);
    return kExitFailed;
  }
  struct DirCloser {
    int fd;
    ~DirCloser() { ::close(fd); }
  } closer{dirFd};
  if (FolderLiesInImage(dirStat.st_dev, imagePath, *image)) {
    std::fprintf(err, "cellbrook-cli: %s lies on the image itself; nothing is written into an image\n", outdir.c_str());
    return kExitFailed;
  }

  // The image's own files are never written (a new file cannot be one, and
  // none is replaced; the check is the project's one all the same).
  EvidenceGuard guard;
  guard.Add(imagePath);

  CarveReport report;
  {
    Progress progress(err, image->Size());
    CarveOptions options;
    options.progress = [&progress](uint64_t done, uint64_t total) { progress.Show(done, total); };
    report = CarveImage(*image, options);
  }
  if (report.readFailed) {
    std::fprintf(err, "cellbrook-cli: cannot read the image %s at offset %s\n", imagePath.c_str(),
                 Hex(report.readFailedAt).c_str());
    return kExitUnreadable;
  }
  if (report.runsCapped) {
    std::fprintf(err, "cellbrook-cli: more runs of hive bins than can be kept; the rest were not looked at\n");
  }
  bool failed = false;
  std::vector<uint8_t> bytes;
  for (const CarvedHive& hive : report.hives) {
    const std::string name = CarvedFileName(hive);
    const std::string path = outdir + (outdir.empty() || outdir.back() == '/' ? "" : "/") + name;
    std::string error;
    NewFileResult result = NewFileResult::Failed;
    if (!AssembleHive(*image, hive, bytes)) {
      error = "its bytes cannot be read from the image";
    } else {
      if (guard.Refuses(path)) {
        error = kEvidenceRefusalText;
      } else {
        result = WriteNewFile(path, bytes, error);
      }
    }
    std::vector<uint8_t>().swap(bytes);
    if (result == NewFileResult::Exists) {
      std::fprintf(err, "cellbrook-cli: %s exists and is not replaced\n", path.c_str());
      failed = true;
    } else if (result == NewFileResult::Failed) {
      std::fprintf(err, "cellbrook-cli: cannot write %s: %s\n", path.c_str(), error.c_str());
      failed = true;
    }
    const bool written = result == NewFileResult::Written;
    for (const std::string& note : hive.notes) {
      std::fprintf(err, "cellbrook-cli: hive at %s: %s\n", Hex(hive.offset).c_str(), note.c_str());
    }
    if (json) {
      Json o;
      o["offset"] = hive.offset;
      o["size"] = hive.Size();
      o["name"] = hive.name.empty() ? Json() : Json(hive.name);
      o["base_block"] = hive.baseBlockFound ? "found" : "rebuilt";
      o["fragments"] = hive.fragments.size();
      o["complete"] = hive.complete;
      o["file"] = written ? Json(path) : Json();
      o["bins_expected"] = hive.binsExpected;
      o["bins_found"] = hive.binsFound;
      o["notes"] = hive.notes;
      std::fprintf(out, "%s\n", o.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
    } else {
      std::fprintf(out, "%s\t%" PRIu64 "\t%s\t%s\t%zu\t%s\t%s\n", Hex(hive.offset).c_str(), hive.Size(),
                   hive.name.empty() ? "-" : EscapeLineText(hive.name).c_str(),
                   hive.baseBlockFound ? "found" : "rebuilt", hive.fragments.size(),
                   hive.complete ? "complete" : "incomplete", written ? path.c_str() : "-");
    }
  }
  if (report.hives.empty()) {
    std::fprintf(err, "cellbrook-cli: no hive found in %s\n", imagePath.c_str());
    return kExitNotFound;
  }
  return failed ? kExitFailed : kExitOk;
}

}  // namespace

int RunCarveCommand(const CommandCall& call, CliSession& session) {
  return Carve(call.words[0], call.words[1], call.Flag("--json"), session.Out(), session.Err());
}

}  // namespace cellbrook
