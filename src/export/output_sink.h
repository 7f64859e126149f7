// A buffered file writer that raises on any failed or short write. Callers
// mark where each entry begins and ends; an entry too large for the buffer
// goes out in pieces, and after a failure the file is cut back to the end
// of the last completed entry, so it never holds a partial one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <deque>
#include <vector>

namespace cellbrook {

class ExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class OutputSink {
 public:
  explicit OutputSink(int fd, size_t bufferBytes = 1 << 20);  // fd not owned
  ~OutputSink();                                              // completes what it can, never raises
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  void BeginEntry();
  void EndEntry();
  // Drops what the open entry has written so far (after a failure).
  void DiscardEntry();

  void Write(const void* data, size_t bytes);
  // UTF-16 code units, little-endian.
  void WriteUnits(std::u16string_view units);
  // Writes out the completed entries (and, inside an entry, what it has).
  void Flush();

 private:
  void WriteOut(const uint8_t* data, size_t bytes);
  void CutBackToLastEntry();

  int fd_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  bool failed_ = false;
  int64_t startOffset_ = -1;      // where the file was when we began, if seekable
  uint64_t written_ = 0;          // bytes handed to the file
  uint64_t committed_ = 0;        // bytes up to the end of the last completed entry
  uint64_t durable_ = 0;          // the same, of entries wholly handed to the file
  std::deque<uint64_t> pending_;  // ends of completed entries not yet wholly written
  bool inEntry_ = false;
};

}  // namespace cellbrook
