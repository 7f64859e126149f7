// cellbrook-cli's writers: what they write, what they leave out, and the
// files they refuse to touch.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "cli_support.h"
#include "hive_builder.h"
#include "log_builder.h"
#include "regtext_reader.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::HiveBuilder;
using test::RunCliCaptured;

// ROOT\Good, ROOT\Bad<CR>Name (with a subkey), ROOT\Back\slash, and a value
// whose name holds LF under ROOT\Good.
std::string AwkwardNamesHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t good = b.Key("Good", root);
  const uint32_t bad = b.Key("Bad\rName", root);
  const uint32_t below = b.Key("Below", bad);
  const uint32_t slash = b.Key("Back\\slash", root);
  b.SetSubkeys(bad, {below});
  b.SetSubkeys(root, {good, bad, slash});
  b.SetValues(good, {b.Value("line\nbreak", 4, {1, 0, 0, 0}), b.Value("kept", 4, {2, 0, 0, 0})});
  b.SetValues(below, {b.Value("lost", 4, {3, 0, 0, 0})});
  b.SetRoot(root);
  return test::WriteScratchFile("awkward-names.hive", b.Image());
}

TEST(CliWriters, ExportLeavesOutWhatRegistryTextCannotCarry) {
  const std::string hive = AwkwardNamesHive();
  const std::string out = test::ScratchPath("awkward.reg");
  const test::CliRun r = RunCliCaptured({"export", hive, "ROOT", out});
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.err,
            "2 keys and 1 value could not be written: their names hold characters registry text "
            "cannot carry (first at ROOT\\Good); everything else was written.\n");
  const std::vector<test::RegKey> keys = test::ParseRegText(test::ReadFileBytes(out));
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].path, "HKEY_CURRENT_USER");
  EXPECT_EQ(keys[1].path, "HKEY_CURRENT_USER\\Good");
  ASSERT_EQ(keys[1].values.size(), 1u);
  EXPECT_EQ(keys[1].values[0].name, "kept");

  // A start key whose own name cannot be written is no export at all.
  const test::CliRun own = RunCliCaptured({"export", hive, "ROOT\\Bad\rName\\Below", out});
  EXPECT_EQ(own.code, 4);
  EXPECT_NE(own.err.find("Key path cannot be written"), std::string::npos) << own.err;
}

// A folder holding a dirty hive H (sequence numbers 11 and 10), its log
// H.LOG1 (entries 10 and 11), a lower-case twin H.log1, an H.LOG2, and
// links to the hive and the lower-case log.
struct EvidenceFolder {
  std::string dir, hive, log1, lowerLog1, log2, hardLink, symLink, logLink;
};

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

EvidenceFolder MakeEvidenceFolder() {
  EvidenceFolder f;
  f.dir = test::ScratchPath("evidence");
  ::mkdir(f.dir.c_str(), 0777);
  f.hive = f.dir + "/H";
  f.log1 = f.dir + "/H.LOG1";
  f.lowerLog1 = f.dir + "/H.log1";
  f.log2 = f.dir + "/H.LOG2";
  f.hardLink = f.dir + "/hard-link";
  f.symLink = f.dir + "/sym-link";
  f.logLink = f.dir + "/log-link";
  Bytes primary = test::BuildSampleHive().image;
  test::AppendEmptyBins(primary, 3);
  primary = test::WithSequences(primary, 11, 10);
  constexpr uint32_t kBins = 4 * 4096;
  std::vector<Bytes> entries;
  for (uint32_t s : {10u, 11u}) entries.push_back(test::NewLogEntry(s, kBins, {{4096, test::EmptyBin(4096, 0x41)}}));
  const Bytes log = test::NewFormatLog(test::LogBaseBlock(primary, 10, 6), entries);
  for (const std::string& p : {f.hardLink, f.symLink, f.logLink}) std::remove(p.c_str());
  auto write = [](const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  };
  write(f.hive, primary);
  write(f.log1, log);
  write(f.lowerLog1, log);
  write(f.log2, log);
  EXPECT_EQ(::link(f.hive.c_str(), f.hardLink.c_str()), 0);
  EXPECT_EQ(::symlink(f.hive.c_str(), f.symLink.c_str()), 0);
  EXPECT_EQ(::symlink("H.log1", f.logLink.c_str()), 0);
  return f;
}

// A 512-byte primary claiming 0xFFFFF000 bytes of bins, with a log entry of
// that size: refused with the reason, nothing written.
TEST(CliWriters, RecoverRefusesGrowthTheLogsDoNotCarry) {
  Bytes primary = test::WithSequences(test::BuildSampleHive().image, 11, 10);
  Bytes claims(primary.begin(), primary.begin() + 512);
  test::SetLe32(claims, 40, 0xFFFFF000);
  test::FixChecksum(claims);
  const Bytes log = test::NewFormatLog(test::LogBaseBlock(primary, 10, 6),
                                       {test::NewLogEntry(10, 0xFFFFF000, {{4096, test::EmptyBin(4096, 0x41)}})});
  const std::string dir = test::ScratchPath("claims");
  ::mkdir(dir.c_str(), 0777);
  const std::string hive = dir + "/C", out = dir + "/out";
  std::remove(out.c_str());
  WriteBytes(hive, claims);
  WriteBytes(hive + ".LOG1", log);
  const test::CliRun r = RunCliCaptured({"recover", hive, out});
  EXPECT_EQ(r.code, 4);
  EXPECT_NE(r.err.find("is more than the hive and its logs could hold"), std::string::npos) << r.err;
  EXPECT_NE(::access(out.c_str(), F_OK), 0);
  const test::CliRun info = RunCliCaptured({"info", hive});
  EXPECT_NE(info.out.find("refused"), std::string::npos) << info.out;
}

// Every writer refuses every name of the evidence, and leaves it as it was.
TEST(CliWriters, NoWriterWritesTheHiveOrItsLogs) {
  const EvidenceFolder f = MakeEvidenceFolder();
  const std::string hiveBytes = test::ReadFileBytes(f.hive);
  const std::string logBytes = test::ReadFileBytes(f.log1);
  struct Target {
    const char* what;
    std::string path;
    std::vector<std::string> options;
  } targets[] = {
      {"the hive", f.hive, {}},
      {"a hard link to the hive", f.hardLink, {}},
      {"a symbolic link to the hive", f.symLink, {}},
      {"its log", f.log1, {}},
      {"a lower-case log beside the upper-case one", f.lowerLog1, {}},
      {"a link to the lower-case log", f.logLink, {}},
      {"the hive by another spelling", f.dir + "/./H", {}},
      {"a log beside, with another named", f.log1, {"--log", f.log2}},
      {"the named log", f.log2, {"--log", f.log2}},
  };
  for (const Target& t : targets) {
    const std::vector<std::vector<std::string>> commands = {
        {"export", f.hive, "ROOT", t.path},
        {"save", f.hive, "ROOT\\Software\\Sample", "Count", t.path},
        {"deleted", f.hive, "--reg", t.path},
        {"recover", f.hive, t.path},
    };
    for (std::vector<std::string> args : commands) {
      args.insert(args.end(), t.options.begin(), t.options.end());
      const test::CliRun r = RunCliCaptured(args);
      EXPECT_EQ(r.code, 4) << args[0] << " onto " << t.what << ": " << r.err;
      EXPECT_NE(r.err.find("This is the hive being read (or one of its logs): it is never written.\n"),
                std::string::npos)
          << args[0] << " onto " << t.what << ": " << r.err;
      EXPECT_TRUE(test::ReadFileBytes(f.hive) == hiveBytes) << args[0] << " onto " << t.what;
      for (const std::string& log : {f.log1, f.lowerLog1, f.log2}) {
        EXPECT_TRUE(test::ReadFileBytes(log) == logBytes) << args[0] << " onto " << t.what;
      }
    }
  }
  // Another file is written as asked.
  const std::string other = f.dir + "/other.reg";
  EXPECT_EQ(RunCliCaptured({"export", f.hive, "ROOT", other}).code, 0);
  EXPECT_EQ(RunCliCaptured({"recover", f.hive, f.dir + "/recovered"}).code, 0);
}

// Runs the command line in a child process, standard output on `stdoutPath`
// (opened with `flags`), with `prepare` run first; returns the wait status.
template <class Prepare>
int RunInChild(const std::vector<std::string>& args, const std::string& stdoutPath, int flags, Prepare&& prepare) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(stdoutPath.c_str(), flags, 0666);
    if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) ::_exit(99);
    prepare();
    std::FILE* out = ::fdopen(::dup(STDOUT_FILENO), "w");
    std::FILE* err = std::fopen("/dev/null", "w");
    const int code = RunCli(args, out, err);
    std::fflush(out);
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}
int RunInChild(const std::vector<std::string>& args, const std::string& stdoutPath = "/dev/null",
               int flags = O_WRONLY) {
  return RunInChild(args, stdoutPath, flags, [] {});
}

// Names in `dir` that start with a dot, "." and ".." aside: left-over
// temporary files.
std::vector<std::string> DotFiles(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name[0] == '.' && name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
  }
  return names;
}

void RemoveDotFiles(const std::string& dir) {
  for (const std::string& name : DotFiles(dir)) std::remove((dir + "/" + name).c_str());
}

void WriteText(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

// A FIFO, a device, a folder, and links to them are refused without being
// opened (a FIFO would block), and nothing of them is removed.
TEST(CliWriters, TargetsThatAreNoRegularFileAreRefused) {
  const EvidenceFolder f = MakeEvidenceFolder();
  const std::string fifo = f.dir + "/a-fifo", folder = f.dir + "/a-folder", devLink = f.dir + "/full-link";
  std::remove(fifo.c_str());
  std::remove(devLink.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  ::mkdir(folder.c_str(), 0777);
  ASSERT_EQ(::symlink("/dev/full", devLink.c_str()), 0);
  for (const std::string& target : {fifo, folder, devLink, std::string("/dev/full"), std::string("/dev/null")}) {
    const std::vector<std::vector<std::string>> commands = {
        {"export", f.hive, "ROOT", target},
        {"save", f.hive, "ROOT\\Software\\Sample", "Count", target},
        {"deleted", f.hive, "--reg", target},
        {"recover", f.hive, target},
    };
    for (const std::vector<std::string>& args : commands) {
      const test::CliRun r = RunCliCaptured(args);
      EXPECT_EQ(r.code, 4) << args[0] << " onto " << target;
      EXPECT_NE(r.err.find("is not a regular file"), std::string::npos)
          << args[0] << " onto " << target << ": " << r.err;
    }
  }
  struct stat st {};
  EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_TRUE(::lstat(devLink.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_TRUE(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
  EXPECT_EQ(DotFiles(f.dir), std::vector<std::string>{});
}

// The file is made beside the target and renamed over it: a new file's mode
// follows the umask, a symbolic link to a file replaces that file, and no
// temporary file is left.
TEST(CliWriters, WritersReplaceWholeFiles) {
  const EvidenceFolder f = MakeEvidenceFolder();
  const std::string target = f.dir + "/out.reg", real = f.dir + "/real.bin", link = f.dir + "/link.bin";
  std::remove(target.c_str());
  std::remove(link.c_str());
  WriteText(target, std::string(100000, 'x'));  // longer than the export
  ASSERT_EQ(RunCliCaptured({"export", f.hive, "ROOT", target}).code, 0);
  const std::string text = test::ReadFileBytes(target);
  EXPECT_EQ(text.substr(0, 2), "\xFF\xFE");
  EXPECT_LT(text.size(), 100000u);
  const mode_t mask = ::umask(022);
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

  WriteText(real, "old");
  ASSERT_EQ(::symlink("real.bin", link.c_str()), 0);
  ASSERT_EQ(RunCliCaptured({"save", f.hive, "ROOT\\Software\\Sample", "Count", link}).code, 0);
  EXPECT_EQ(test::ReadFileBytes(real), std::string("\x1A\0\0\0", 4));
  EXPECT_TRUE(::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_EQ(DotFiles(f.dir), std::vector<std::string>{});
}

// "-" is standard output for export, save and recover, and a standard
// output that is one of the logs is refused.
TEST(CliWriters, DashIsStandardOutput) {
  const EvidenceFolder f = MakeEvidenceFolder();
  const std::string captured = f.dir + "/stdout.bin";
  const int create = O_WRONLY | O_CREAT | O_TRUNC;
  int status = RunInChild({"save", f.hive, "ROOT\\Software\\Sample", "Count", "-"}, captured, create);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(test::ReadFileBytes(captured), std::string("\x1A\0\0\0", 4));
  EXPECT_NE(::access((f.dir + "/-").c_str(), F_OK), 0) << "no file named -";

  const std::string recovered = f.dir + "/recovered.dat";
  ASSERT_EQ(RunCliCaptured({"recover", f.hive, recovered}).code, 0);
  status = RunInChild({"recover", f.hive, "-"}, captured, create);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(test::ReadFileBytes(captured) == test::ReadFileBytes(recovered));

  status = RunInChild({"export", f.hive, "ROOT", "-"}, captured, create);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(test::ReadFileBytes(captured).substr(0, 2), "\xFF\xFE");

  // A full standard output is a failure, said.
  status = RunInChild({"save", f.hive, "ROOT\\Software\\Sample", "Count", "-"}, "/dev/full", O_WRONLY);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4);
  status = RunInChild({"recover", f.hive, "-"}, "/dev/full", O_WRONLY);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4);

  // Standard output appended to the hive's log.
  const std::string log = test::ReadFileBytes(f.log1);
  for (const char* command : {"export", "recover"}) {
    const std::vector<std::string> args = command == std::string("export")
                                              ? std::vector<std::string>{"export", f.hive, "ROOT", "-"}
                                              : std::vector<std::string>{"recover", f.hive, "-"};
    status = RunInChild(args, f.log1, O_WRONLY | O_APPEND);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << command;
  }
  EXPECT_TRUE(test::ReadFileBytes(f.log1) == log);
}

// The file-size limit: a write that fails leaves the old file, a kill the
// old file or nothing (a temporary dot-file may remain, never a part of the
// hive under the target's name).
TEST(CliWriters, FileSizeLimitLeavesTheOldFileOrNothing) {
  const EvidenceFolder f = MakeEvidenceFolder();  // recovers to 20 KiB
  const std::string target = f.dir + "/recovered.dat";
  const rlim_t limit = 8192;
  HiveBuilder b;  // exports to about 150 KB
  const uint32_t root = b.Key("root");
  b.SetValues(root, {b.Value("big", 3, Bytes(30000, 0x5A))});
  b.SetRoot(root);
  const std::string big = test::WriteScratchFile("big-value.hive", b.Image());
  auto limited = [&](bool ignoreSignal) {
    return [=] {
      if (ignoreSignal) std::signal(SIGXFSZ, SIG_IGN);
      const rlimit r{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &r);
    };
  };
  for (bool ignoreSignal : {true, false}) {
    for (bool existing : {true, false}) {
      RemoveDotFiles(f.dir);
      std::remove(target.c_str());
      const std::vector<std::vector<std::string>> commands = {
          {"recover", f.hive, target},
          {"export", big, "ROOT", target},
          {"save", big, "ROOT", "big", target},
      };
      for (const std::vector<std::string>& args : commands) {
        if (existing) WriteText(target, "the old file");
        const int status = RunInChild(args, "/dev/null", O_WRONLY, limited(ignoreSignal));
        const std::string what =
            args[0] + (ignoreSignal ? ", write fails" : ", killed") + (existing ? ", over a file" : ", no file before");
        if (ignoreSignal) {
          EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << what;
        } else {
          EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << what;
        }
        if (existing) {
          EXPECT_EQ(test::ReadFileBytes(target), "the old file") << what;
        } else {
          EXPECT_NE(::access(target.c_str(), F_OK), 0) << what;
        }
        if (ignoreSignal) {
          EXPECT_EQ(DotFiles(f.dir), std::vector<std::string>{}) << what;
        }
      }
    }
  }
  RemoveDotFiles(f.dir);
}

}  // namespace
}  // namespace cellbrook
