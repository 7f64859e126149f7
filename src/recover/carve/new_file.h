// Writing a file that must not exist yet, whole or not at all: carved
// hives, and a hive saved from the window. Never replaces a file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace cellbrook {

enum class NewFileResult { Written, Exists, Failed };

// `name` in the folder open as `dirFd`.
NewFileResult WriteNewFile(int dirFd, const std::string& name, std::span<const uint8_t> bytes,
                           std::string& error);
// `path` in its folder.
NewFileResult WriteNewFileAt(const std::string& path, std::span<const uint8_t> bytes, std::string& error);

}  // namespace cellbrook
