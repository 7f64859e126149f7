// A buffered file writer that raises on any failed or short write. Callers
// hand it whole entries, so after a failure and a Flush the file holds
// every entry completed before the one that failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cellbrook {

class ExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class OutputSink {
 public:
  explicit OutputSink(int fd, size_t bufferBytes = 1 << 20);  // fd not owned
  ~OutputSink();  // flushes what it can, never raises
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  void Write(const void* data, size_t bytes);
  // UTF-16 code units, little-endian.
  void WriteUnits(std::u16string_view units);
  void Flush();

 private:
  void WriteOut(const uint8_t* data, size_t bytes);

  int fd_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace cellbrook
