#include "common/home_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zibu {

namespace {

std::string WithSlash(const std::string& folder) {
  if (!folder.empty() && folder.back() == '/') return folder;
  return folder + "/";
}

// The first line of the lock file: "<pid> <holder>".
std::string DescribeHolder(int fd) {
  char buffer[256];
  const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
  if (got <= 0) return {};
  std::string line(buffer, static_cast<size_t>(got));
  line = line.substr(0, line.find('\n'));
  const size_t space = line.find(' ');
  if (space == std::string::npos || space == 0) return {};
  const std::string pid = line.substr(0, space);
  if (pid.find_first_not_of("0123456789") != std::string::npos) return {};
  return line.substr(space + 1) + " (process " + pid + ")";
}

}  // namespace

std::string HomeLock::FileName(const std::string& home) {
  return WithSlash(home) + "zibu.lock";
}

HomeLock::~HomeLock() {
  Release();
}

HomeLock::Result HomeLock::Acquire(const std::string& home, const std::string& holder) {
  Release();
  message_.clear();
  holderText_.clear();
  const std::string path = FileName(home);
  // A holder that releases removes the file; whoever opened it just before then locks a file
  // that no longer has a name, notices, and tries the new one.
  for (int attempt = 0; attempt < 5; ++attempt) {
    // Close-on-exec: a helper process started by the holder (the embedded browser's) must not
    // keep the lock alive after the holder has gone.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      message_ = "I cannot use the home folder " + WithSlash(home) + ": its lock file " + path +
                 " cannot be opened (" + std::strerror(errno) + ").";
      return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      if (err == EWOULDBLOCK) holderText_ = DescribeHolder(fd);
      ::close(fd);
      if (err == EWOULDBLOCK) {
        message_ = "The home folder " + WithSlash(home) + " is in use by " +
                   (holderText_.empty() ? std::string("another Zibu program") : holderText_) +
                   ". Two programs on one home would save over each other's data, so I change nothing "
                   "there; close the other one first, or use another home.";
        return Result::InUse;
      }
      message_ = "I cannot lock the home folder " + WithSlash(home) + " (" + std::strerror(err) + ").";
      return Result::Failed;
    }
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || ::stat(path.c_str(), &named) != 0 || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino) {
      ::close(fd);
      continue;
    }
    const std::string line = std::to_string(::getpid()) + " " + holder + "\n";
    // Without the note the lock holds all the same; only the next one's message is poorer.
    if (::ftruncate(fd, 0) == 0) {
      [[maybe_unused]] const ssize_t written = ::pwrite(fd, line.data(), line.size(), 0);
    }
    fd_ = fd;
    path_ = path;
    return Result::Acquired;
  }
  message_ = "I cannot lock the home folder " + WithSlash(home) + ": its lock file keeps changing.";
  return Result::Failed;
}

void HomeLock::Release() {
  if (fd_ < 0) return;
  // Removed while still locked, so nobody can lock this file under its name any more.
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace zibu
