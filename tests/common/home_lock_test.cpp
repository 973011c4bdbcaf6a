// The home lock against every kind of earlier holder: none, a stale file, a live holder in this
// or another process, a holder that died without letting go (with and without a helper process
// it had started), and homes that cannot hold a lock file at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "common/home_lock.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace zibu;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A child process that takes the lock, reports the pid of an optional helper it started, and
// then either waits for the test to close `release` or ends at once without letting go.
struct ChildHolder {
  pid_t pid = -1;
  pid_t helper = -1;
  int release = -1;

  ChildHolder(const fs::path& home, bool stayAlive, bool startHelper) {
    int ready[2];
    int hold[2];
    if (::pipe(ready) != 0 || ::pipe(hold) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::close(ready[0]);
      ::close(hold[1]);
      HomeLock lock;
      if (lock.Acquire(home.string(), "holder") == HomeLock::Result::Acquired && startHelper) {
        char sleepName[] = "sleep";
        char seconds[] = "30";
        char* argv[] = {sleepName, seconds, nullptr};
        ::posix_spawnp(&helper, "sleep", nullptr, nullptr, argv, environ);
      }
      [[maybe_unused]] ssize_t n = ::write(ready[1], &helper, sizeof helper);
      if (stayAlive) {
        char c2;
        n = ::read(hold[0], &c2, 1);
      }
      ::_exit(0);  // no Release: the operating system has to drop the lock
    }
    ::close(ready[1]);
    ::close(hold[0]);
    [[maybe_unused]] ssize_t n = ::read(ready[0], &helper, sizeof helper);
    ::close(ready[0]);
    release = hold[1];
    if (!stayAlive) Wait();
  }
  ChildHolder(const ChildHolder&) = delete;
  ChildHolder& operator=(const ChildHolder&) = delete;
  void Wait() {
    if (release >= 0) ::close(release);
    release = -1;
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
  ~ChildHolder() {
    Wait();
    if (helper > 0) {
      ::kill(helper, SIGKILL);
      ::waitpid(helper, nullptr, 0);
    }
  }
};

TEST(HomeLockTest, EarlierHoldersAndUnusableHomes) {
  const fs::path root = fs::temp_directory_path() / ("zibu_lock_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root);
  const std::string self = std::to_string(::getpid());

  // What was there before; returns whatever must outlive the attempt.
  using Setup = std::function<std::shared_ptr<void>(const fs::path& home)>;
  struct Case {
    const char* name;
    Setup before;
    HomeLock::Result expected;
    std::string holder;  // Holder() after the attempt; "child" stands for the child's pid
  };
  const Case cases[] = {
      {"fresh folder", [](const fs::path&) { return nullptr; }, HomeLock::Result::Acquired, ""},
      {"stale file of a crashed holder",
       [](const fs::path& home) {
         std::ofstream(home / "zibu.lock") << "999999 zibu\n";
         return nullptr;
       },
       HomeLock::Result::Acquired, ""},
      {"holder in this process",
       [](const fs::path& home) {
         auto lock = std::make_shared<HomeLock>();
         EXPECT_EQ(lock->Acquire(home.string(), "zibu"), HomeLock::Result::Acquired);
         return lock;
       },
       HomeLock::Result::InUse, "zibu (process " + self + ")"},
      {"live holder in another process",
       [](const fs::path& home) { return std::make_shared<ChildHolder>(home, true, false); },
       HomeLock::Result::InUse, "child"},
      {"holder died without letting go",
       [](const fs::path& home) { return std::make_shared<ChildHolder>(home, false, false); },
       HomeLock::Result::Acquired, ""},
      {"holder died, its helper process lives on",
       [](const fs::path& home) {
         auto c = std::make_shared<ChildHolder>(home, false, true);
         EXPECT_GT(c->helper, 0);
         return c;
       },
       HomeLock::Result::Acquired, ""},
      {"home folder missing",
       [](const fs::path& home) {
         fs::remove_all(home);
         return nullptr;
       },
       HomeLock::Result::Failed, ""},
      {"home is a file",
       [](const fs::path& home) {
         fs::remove_all(home);
         std::ofstream(home) << "x";
         return nullptr;
       },
       HomeLock::Result::Failed, ""},
  };

  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path home = root / std::to_string(n++);
    fs::create_directories(home);
    std::shared_ptr<void> keep = c.before(home);
    std::string holder = c.holder;
    if (holder == "child") {
      holder = "holder (process " + std::to_string(static_cast<ChildHolder*>(keep.get())->pid) + ")";
    }
    const bool hadFile = fs::exists(home / "zibu.lock");
    const std::string before = hadFile ? ReadAll(home / "zibu.lock") : "";

    HomeLock lock;
    EXPECT_EQ(lock.Acquire(home.string(), "zibu-cli test"), c.expected) << lock.Message();
    EXPECT_EQ(lock.Holder(), holder);
    switch (c.expected) {
      case HomeLock::Result::Acquired:
        EXPECT_TRUE(lock.Held());
        EXPECT_TRUE(lock.Message().empty());
        EXPECT_EQ(ReadAll(home / "zibu.lock"), self + " zibu-cli test\n");
        lock.Release();
        EXPECT_FALSE(fs::exists(home / "zibu.lock"));
        // Free again for the next one.
        EXPECT_EQ(lock.Acquire(home.string() + "/", "again"), HomeLock::Result::Acquired);
        break;
      case HomeLock::Result::InUse:
        EXPECT_FALSE(lock.Held());
        EXPECT_NE(lock.Message().find(holder), std::string::npos) << lock.Message();
        EXPECT_NE(lock.Message().find(home.string() + "/"), std::string::npos) << lock.Message();
        // The file of the holder is left exactly as it was.
        EXPECT_EQ(ReadAll(home / "zibu.lock"), before);
        break;
      case HomeLock::Result::Failed:
        EXPECT_FALSE(lock.Held());
        EXPECT_NE(lock.Message().find(home.string()), std::string::npos) << lock.Message();
        EXPECT_FALSE(fs::is_directory(home));
        break;
    }
  }
  fs::remove_all(root);
}

}  // namespace
