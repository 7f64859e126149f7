#include "export/output_sink.h"

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

namespace cellbrook {

OutputSink::OutputSink(int fd, size_t bufferBytes) : fd_(fd), buffer_(bufferBytes) {}

OutputSink::~OutputSink() {
  try {
    Flush();
  } catch (const ExportError&) {
  }
}

void OutputSink::WriteOut(const uint8_t* data, size_t bytes) {
  if (failed_) throw ExportError("Write failed: an earlier write to the file failed");
  while (bytes > 0) {
    const ssize_t n = ::write(fd_, data, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      throw ExportError(std::string("Write failed: ") +
                        (n < 0 ? std::strerror(errno) : "nothing was written"));
    }
    data += n;
    bytes -= static_cast<size_t>(n);
  }
}

void OutputSink::Write(const void* data, size_t bytes) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (bytes > buffer_.size() - used_) {
    Flush();
    if (bytes >= buffer_.size()) return WriteOut(p, bytes);
  }
  std::memcpy(buffer_.data() + used_, p, bytes);
  used_ += bytes;
}

void OutputSink::WriteUnits(std::u16string_view units) {
  if constexpr (std::endian::native == std::endian::little) {
    Write(units.data(), units.size() * 2);
  } else {
    for (char16_t u : units) {
      const uint8_t b[2] = {static_cast<uint8_t>(u & 0xFF), static_cast<uint8_t>(u >> 8)};
      Write(b, 2);
    }
  }
}

void OutputSink::Flush() {
  const size_t n = used_;
  used_ = 0;
  if (n > 0) WriteOut(buffer_.data(), n);
}

}  // namespace cellbrook
