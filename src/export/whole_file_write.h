// The one way a writer puts a whole file at a path: the bytes go to a new
// temporary file beside the target (same folder, so the rename stays on one
// file system), which is flushed to disk, closed and only then renamed over
// the target. A failure, a full disk or a kill therefore leaves the old file
// or nothing at the target, never a partial one.
//
// The cleanup rule, stated once: on any failure, and when a write is
// dropped without Commit, the temporary file is removed; nothing else is
// ever removed. Only a kill (a signal, the file-size limit) can leave the
// temporary file behind: a dot-file ".NAME.cellbrook-PID-N" beside the
// target, never a file with the target's name.
//
// A target that exists and is not a regular file (a FIFO, a device, a
// socket, a folder), or a symbolic link to one, is refused before anything
// is opened, so it never blocks. A symbolic link to a regular file is
// followed: the file it names is replaced. "-", where the caller allows
// it, is standard output, written in place.
#pragma once

#include <cstddef>
#include <string>

namespace cellbrook {

class WholeFileWrite {
 public:
  enum class Status { Ready, NotRegular, CannotCreate, Exists };
  // Keep: a target that exists, or that appears before Commit, is never
  // replaced (Commit links the temporary file to the name, which fails on
  // an existing one); Status::Exists then.
  enum class Existing { Replace, Keep };

  WholeFileWrite(const std::string& target, bool dashIsStdout, Existing existing = Existing::Replace);
  ~WholeFileWrite();  // removes the temporary file unless committed
  WholeFileWrite(const WholeFileWrite&) = delete;
  WholeFileWrite& operator=(const WholeFileWrite&) = delete;

  Status State() const { return status_; }
  bool TargetExists() const { return status_ == Status::Exists; }
  bool Ready() const { return status_ == Status::Ready; }
  // What went wrong, as a line for the user; empty while all is well.
  const std::string& Problem() const { return problem_; }

  int Descriptor() const { return fd_; }
  bool ToStandardOutput() const { return toStdout_; }

  // All the bytes, or false with Problem() set.
  bool Write(const void* data, size_t bytes);
  // Flushes, closes and renames over the target; false with Problem() set,
  // the temporary file removed and the target as it was.
  bool Commit();
  // Drops what was written: the temporary file is removed.
  void Discard();

 private:
  void Fail(const std::string& why);

  std::string target_;  // the file replaced (a symbolic link followed)
  std::string temp_;
  int fd_ = -1;
  bool toStdout_ = false;
  bool done_ = false;
  bool keep_ = false;
  Status status_ = Status::Ready;
  std::string problem_;
};

// The line for a target refused as not a regular file.
constexpr const char* kNotRegularTargetText =
    "The target exists and is not a regular file (a folder, device, FIFO or socket): it is not written.";
constexpr const char* kCannotCreateTargetText = "Unable to create target file!";
constexpr const char* kTargetExistsText = "The target exists and is not replaced.";

}  // namespace cellbrook
