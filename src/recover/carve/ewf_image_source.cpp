// E01 images through libewf.
#include <sys/stat.h>

#include <libewf.h>

#include "recover/carve/image_source.h"

namespace cellbrook {
namespace {

std::string ErrorText(libewf_error_t*& error, const char* fallback) {
  std::string text = fallback;
  if (error != nullptr) {
    char buffer[512] = {};
    if (libewf_error_sprint(error, buffer, sizeof buffer) > 0) text = buffer;
    libewf_error_free(&error);
  }
  return text;
}

class ExpertWitnessImage final : public ImageSource {
 public:
  ~ExpertWitnessImage() override {
    if (handle_ != nullptr) {
      libewf_handle_close(handle_, nullptr);
      libewf_handle_free(&handle_, nullptr);
    }
  }
  bool Open(const std::string& path, std::string& error) {
    libewf_error_t* e = nullptr;
    char** names = nullptr;
    int count = 0;
    if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &e) != 1) {
      error = ErrorText(e, "its segment files cannot be found");
      return false;
    }
    for (int i = 0; i < count; ++i) {
      struct stat st {};
      if (::stat(names[i], &st) == 0) files_.emplace_back(st.st_dev, st.st_ino);
    }
    bool ok = libewf_handle_initialize(&handle_, &e) == 1 &&
              libewf_handle_open(handle_, names, count, libewf_get_access_flags_read(), &e) == 1;
    libewf_glob_free(names, count, nullptr);
    if (!ok) {
      error = ErrorText(e, "the E01 image cannot be opened");
      if (handle_ != nullptr) libewf_handle_free(&handle_, nullptr);
      return false;
    }
    size64_t size = 0;
    if (libewf_handle_get_media_size(handle_, &size, &e) != 1) {
      error = ErrorText(e, "the E01 image has no media size");
      return false;
    }
    size_ = size;
    return true;
  }
  uint64_t Size() const override { return size_; }
  const char* Kind() const override { return "E01"; }
  bool Read(uint64_t offset, uint8_t* into, size_t length) override {
    if (offset > size_ || length > size_ - offset) return false;
    size_t done = 0;
    while (done < length) {
      libewf_error_t* e = nullptr;
      const ssize_t n =
          libewf_handle_read_random(handle_, into + done, length - done, static_cast<off64_t>(offset + done), &e);
      if (e != nullptr) libewf_error_free(&e);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  libewf_handle_t* handle_ = nullptr;
  uint64_t size_ = 0;
};

}  // namespace

bool ExpertWitnessSupported() { return true; }

std::unique_ptr<ImageSource> OpenExpertWitness(const std::string& path, std::string& error) {
  auto image = std::make_unique<ExpertWitnessImage>();
  if (!image->Open(path, error)) return nullptr;
  return image;
}

}  // namespace cellbrook
