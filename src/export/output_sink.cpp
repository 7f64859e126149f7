#include "export/output_sink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "hive/fd_io.h"

namespace cellbrook {

OutputSink::OutputSink(int fd, size_t bufferBytes) : fd_(fd), buffer_(bufferBytes) {
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) startOffset_ = ::lseek(fd_, 0, SEEK_CUR);
}

OutputSink::~OutputSink() {
  try {
    if (inEntry_) DiscardEntry();
    Flush();
  } catch (const ExportError&) {
  }
}

void OutputSink::BeginEntry() {
  if (inEntry_) EndEntry();
  inEntry_ = true;
}

void OutputSink::EndEntry() {
  committed_ = written_ + used_;
  if (committed_ <= written_) {
    durable_ = committed_;
  } else {
    pending_.push_back(committed_);
  }
  inEntry_ = false;
}

void OutputSink::DiscardEntry() {
  inEntry_ = false;
  if (committed_ >= written_) {
    used_ = static_cast<size_t>(committed_ - written_);  // still in the buffer
    return;
  }
  used_ = 0;
  CutBackToLastEntry();
}

// A regular file loses the partial entry; a pipe or terminal keeps what it
// was sent, since nothing can take it back.
void OutputSink::CutBackToLastEntry() {
  if (startOffset_ < 0 || written_ <= durable_) return;
  const off_t end = static_cast<off_t>(startOffset_ + static_cast<int64_t>(durable_));
  if (::ftruncate(fd_, end) == 0 && ::lseek(fd_, end, SEEK_SET) == end) {
    written_ = committed_ = durable_;
    pending_.clear();
  }
}

void OutputSink::WriteOut(const uint8_t* data, size_t bytes) {
  if (failed_) throw ExportError("Write failed: an earlier write to the file failed");
  const size_t sent = WriteAll(fd_, data, bytes);
  const int error = errno;
  written_ += sent;
  while (!pending_.empty() && pending_.front() <= written_) {
    durable_ = pending_.front();
    pending_.pop_front();
  }
  if (sent < bytes) {
    failed_ = true;
    CutBackToLastEntry();
    throw ExportError(std::string("Write failed: ") + (error != 0 ? std::strerror(error) : "nothing was written"));
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
