// The browser's command line: `cellbrook [FILE]`, `--help`, `--version`.
#pragma once

#include <QString>
#include <QStringList>

namespace cellbrook {

extern const char* const kProgramVersion;

struct StartRequest {
  enum Action { Run, Help, Version, Usage } action = Run;
  QString file;  // Run: the file to open at start, or empty
  QString text;  // Help, Version: for standard output; Usage: for standard error
};

// `arguments` as the program got them, the program's name first.
StartRequest ParseStartArguments(const QStringList& arguments);

}  // namespace cellbrook
