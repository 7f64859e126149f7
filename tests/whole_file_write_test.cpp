// The evidence check and the whole-file write helper every writer uses.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "export/evidence_guard.h"
#include "export/whole_file_write.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

std::string Folder(const std::string& name) {
  const std::string dir = test::ScratchPath(name);
  ::mkdir(dir.c_str(), 0777);
  return dir;
}

void Put(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

size_t EntriesIn(const std::string& dir) {
  size_t n = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) n += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    ::closedir(d);
  }
  return n;
}

TEST(EvidenceGuard, GuardsTheHiveAndEveryLogBesideItByIdentity) {
  const std::string dir = Folder("guard");
  for (const char* name :
       {"SYSTEM", "SYSTEM.LOG1", "system.log2", "System.Log", "SYSTEM.LOG3", "SYSTEM.bak", "named.log", "other"}) {
    Put(dir + "/" + name, name);
  }
  const std::string link = dir + "/link", hard = dir + "/hard";
  std::remove(link.c_str());
  std::remove(hard.c_str());
  ASSERT_EQ(::symlink("system.log2", link.c_str()), 0);
  ASSERT_EQ(::link((dir + "/SYSTEM.LOG1").c_str(), hard.c_str()), 0);
  const EvidenceGuard guard = EvidenceGuard::For(dir + "/SYSTEM", {dir + "/named.log"});
  struct Case {
    const char* name;
    bool refused;
  } cases[] = {
      {"SYSTEM", true},       {"SYSTEM.LOG1", true}, {"system.log2", true}, {"System.Log", true},
      {"named.log", true},    {"link", true},        {"hard", true},        {"./SYSTEM", true},
      {"SYSTEM.LOG3", false}, {"SYSTEM.bak", false}, {"other", false},      {"not-there", false},
  };
  for (const Case& c : cases) EXPECT_EQ(guard.Refuses(dir + "/" + c.name), c.refused) << c.name;
  // A log name beside the hive, whenever asked: a log that came after the
  // guard, a link to it, one not there yet (written, the next open applies it).
  const std::string later = dir + "/SyStEm.LoG", laterLink = dir + "/later-link";
  std::remove(later.c_str());
  std::remove(laterLink.c_str());
  Put(later, "later");
  ASSERT_EQ(::symlink("SyStEm.LoG", laterLink.c_str()), 0);
  for (const char* name : {"SyStEm.LoG", "later-link", "system.LOG1", "SYSTEM.Log2"}) {
    EXPECT_TRUE(guard.Refuses(dir + "/" + name)) << name;
  }
  EXPECT_FALSE(guard.Refuses(dir + "/SYSTEM.LOG3"));
  EXPECT_FALSE(guard.Refuses(Folder("guard-elsewhere") + "/SYSTEM.LOG1"));  // another folder's log name
  EXPECT_FALSE(EvidenceGuard().Refuses(dir + "/SYSTEM"));                   // guards nothing
  const int fd = ::open((dir + "/System.Log").c_str(), O_RDONLY);
  EXPECT_TRUE(guard.RefusesDescriptor(fd));
  ::close(fd);
  EXPECT_FALSE(guard.RefusesDescriptor(-1));
}

TEST(WholeFileWrite, CommitReplacesDiscardLeavesTheOldFile) {
  const std::string dir = Folder("whole-write");
  const std::string target = dir + "/out";
  Put(target, "old");
  {
    WholeFileWrite w(target, false);
    ASSERT_TRUE(w.Ready()) << w.Problem();
    ASSERT_TRUE(w.Write("new bytes", 9));
    EXPECT_EQ(test::ReadFileBytes(target), "old");  // nothing at the target until complete
    EXPECT_EQ(EntriesIn(dir), 2u);                  // the temporary file beside it
  }                                                 // dropped: removed
  EXPECT_EQ(test::ReadFileBytes(target), "old");
  EXPECT_EQ(EntriesIn(dir), 1u);
  {
    WholeFileWrite w(target, false);
    ASSERT_TRUE(w.Write("new bytes", 9));
    ASSERT_TRUE(w.Commit()) << w.Problem();
    EXPECT_FALSE(w.Write("x", 1));  // after the commit nothing more goes in
  }
  EXPECT_EQ(test::ReadFileBytes(target), "new bytes");
  EXPECT_EQ(EntriesIn(dir), 1u);
  // "-" is a file name unless the caller says otherwise.
  WholeFileWrite named(dir + "/-", false);
  EXPECT_FALSE(named.ToStandardOutput());
  named.Discard();
  WholeFileWrite dash("-", true);
  EXPECT_TRUE(dash.ToStandardOutput());
  EXPECT_EQ(dash.Descriptor(), STDOUT_FILENO);
}

TEST(WholeFileWrite, RefusesWhatIsNoRegularFileAndMissingFolders) {
  const std::string dir = Folder("whole-refuse");
  const std::string fifo = dir + "/fifo", sub = dir + "/sub", dangling = dir + "/dangling";
  std::remove(fifo.c_str());
  std::remove(dangling.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  ::mkdir(sub.c_str(), 0777);
  ASSERT_EQ(::symlink("nowhere/x", dangling.c_str()), 0);
  struct Case {
    std::string target;
    WholeFileWrite::Status status;
  } cases[] = {
      {fifo, WholeFileWrite::Status::NotRegular},
      {sub, WholeFileWrite::Status::NotRegular},
      {"/dev/null", WholeFileWrite::Status::NotRegular},
      {dir + "/no/such/x", WholeFileWrite::Status::CannotCreate},
      {dir + "/", WholeFileWrite::Status::NotRegular},
      {dangling, WholeFileWrite::Status::Ready},  // the link itself is replaced
  };
  for (const Case& c : cases) {
    WholeFileWrite w(c.target, true);
    EXPECT_EQ(w.State(), c.status) << c.target;
    EXPECT_EQ(w.Problem().empty(), c.status == WholeFileWrite::Status::Ready) << c.target;
    if (!w.Ready()) {
      EXPECT_FALSE(w.Commit()) << c.target;
    }
  }
  EXPECT_EQ(EntriesIn(dir), 3u);  // nothing left behind
}

TEST(WholeFileWrite, AFailedWriteLeavesTheTargetAsItWas) {
  // The file-size limit cuts the write short and then fails it (EFBIG): the
  // temporary file goes, and the target keeps what it held, or stays absent.
  const std::string dir = Folder("whole-fail");
  struct Case {
    const char* what;
    bool existed;
    size_t firstWrite;  // bytes written before the one that fails
  } cases[] = {
      {"a new target", false, 0},
      {"an existing target", true, 0},
      {"a new target, after a write that went through", false, 4000},
      {"an existing target, after a write that went through", true, 4000},
  };
  const std::string big(64 * 1024, 'x');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string target = dir + "/out";
    std::remove(target.c_str());
    if (c.existed) Put(target, "old");
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const struct rlimit limited = {8192, old.rlim_max};
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    bool first = false, second = true;
    std::string problem;
    {
      WholeFileWrite w(target, false);
      ASSERT_TRUE(w.Ready()) << w.Problem();
      ::setrlimit(RLIMIT_FSIZE, &limited);
      first = w.Write(big.data(), c.firstWrite);
      second = w.Write(big.data(), big.size());
      ::setrlimit(RLIMIT_FSIZE, &old);
      problem = w.Problem();
      EXPECT_FALSE(w.Commit());
    }
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_EQ(problem.rfind("Write failed: ", 0), 0u) << problem;
    EXPECT_EQ(::access(target.c_str(), F_OK) == 0, c.existed);
    EXPECT_EQ(test::ReadFileBytes(target), c.existed ? "old" : "");
    EXPECT_EQ(EntriesIn(dir), c.existed ? 1u : 0u);  // no temporary file left
  }
}

}  // namespace
}  // namespace cellbrook
