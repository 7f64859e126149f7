// Moving whole spans through a file descriptor. A signal (EINTR) and a
// short transfer never end a read or a write early: the loop goes on until
// every byte moved, the file ended, or the call failed. Failures keep the
// call's errno for the caller's message.
//
// Cleanup after a failed write is not done here: a file put at a path goes
// through WholeFileWrite (export/whole_file_write.h), which removes its own
// temporary file and never anything else; a stream (OutputSink) cuts a
// regular file back to its last whole entry.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace cellbrook {

// Exactly `length` bytes from the file position, or false when the file
// ends first or a read fails (errno set for a failure, 0 for an early end).
bool ReadFully(int fd, void* into, size_t length);

// Exactly `length` bytes from `offset` (pread: the file position stays), or
// false when the file ends first or a read fails (errno set for a failure,
// 0 for an early end).
bool ReadFullyAt(int fd, uint64_t offset, void* into, size_t length);

// Writes every byte at the file position. Returns the count written, which
// is `bytes` unless a write failed (errno set) or wrote nothing (errno 0).
size_t WriteAll(int fd, const void* data, size_t bytes);

// What reading a file whole came to.
enum class WholeRead { Read, CannotOpen, CannotStat, NotRegular, TooLarge, NoMemory, ReadFailed };

struct WholeReadFacts {
  int error = 0;      // errno of a failed open, stat or read; 0 for an early end
  mode_t mode = 0;    // the file's type, once stat succeeded
  uint64_t size = 0;  // its size, once stat succeeded
};

// Gives the room for `size` bytes, or nullptr when there is no memory for
// them (nullptr is accepted for size 0).
using ReadRoom = std::function<uint8_t*(uint64_t size)>;

// Reads the regular file at `path` whole, if it holds at most `limit`
// bytes: one open without blocking (a FIFO or device swapped in never holds
// it up), a stat of that descriptor, then every byte into the room. Only a
// regular file is read; a file that ends early is ReadFailed.
WholeRead ReadWholeFile(const std::string& path, uint64_t limit, const ReadRoom& room, WholeReadFacts* facts = nullptr);

}  // namespace cellbrook
