// The bytes of a disk image, read in bounded pieces: a raw file or device of
// any size, or an Expert Witness (E01) image with its segments. Only read.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace cellbrook {

class ImageSource {
 public:
  virtual ~ImageSource() = default;
  // Bytes of media the image holds.
  virtual uint64_t Size() const = 0;
  // Reads [offset, offset + length) into `into`; false when the range is
  // not wholly inside the image or the read fails.
  virtual bool Read(uint64_t offset, uint8_t* into, size_t length) = 0;
  // "raw" or "E01".
  virtual const char* Kind() const = 0;
  // The files it reads (device, inode), so that nothing is written to them.
  const std::vector<std::pair<dev_t, ino_t>>& Files() const { return files_; }

 protected:
  std::vector<std::pair<dev_t, ino_t>> files_;
};

// Whether this build reads E01 images.
bool ExpertWitnessSupported();

// Opens `path`: an E01 image when it starts with the EWF signature (its
// segments .E02, .E03 ... found beside it), else a raw image (a regular
// file or a block device). Null with `error` set when it cannot be read.
std::unique_ptr<ImageSource> OpenImageSource(const std::string& path, std::string& error);

// A raw image over an open descriptor, which it closes; for the tests.
std::unique_ptr<ImageSource> RawImageSource(int fd, uint64_t size);

}  // namespace cellbrook
