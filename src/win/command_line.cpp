#include "win/command_line.h"

namespace cellbrook {

const char* const kProgramVersion = "1.0";

namespace {

QString UsageText() {
  return "Usage: cellbrook [FILE]\n"
         "Browse a Windows registry hive file (read-only).\n"
         "\n"
         "  FILE       a hive file to open at start, as File > Open registry file does\n"
         "  --help     show this text and exit\n"
         "  --version  show the version and exit\n"
         "  --         end of options: the next argument is FILE even if it starts with -\n";
}

}  // namespace

StartRequest ParseStartArguments(const QStringList& arguments) {
  StartRequest request;
  QStringList files;
  QString problem;
  bool optionsEnded = false;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (optionsEnded || !a.startsWith('-') || a == "-") {
      files << a;
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--help" || a == "-h") {
      return {StartRequest::Help, {}, UsageText()};
    } else if (a == "--version") {
      return {StartRequest::Version, {}, QString("cellbrook %1\n").arg(kProgramVersion)};
    } else if (problem.isEmpty()) {
      problem = QString("cellbrook: unknown option '%1'\n").arg(a);
    }
  }
  if (problem.isEmpty() && files.size() > 1) problem = "cellbrook: more than one FILE given\n";
  if (!problem.isEmpty()) return {StartRequest::Usage, {}, problem + UsageText()};
  request.file = files.value(0);
  return request;
}

}  // namespace cellbrook
