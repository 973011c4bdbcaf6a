// One program at a time per home folder. Two programs on one home would each save over the
// other's learned data, so whoever writes there (the program, or a zibu-cli command that changes
// the home) first takes the lock file "zibu.lock" in it. The lock is an advisory lock on the open
// file, so the operating system drops it when the holder ends, however it ends; the file itself
// only names the holder for the message the next one shows.
#pragma once

#include <string>

namespace zibu {

class HomeLock {
 public:
  enum class Result { Acquired, InUse, Failed };

  HomeLock() = default;
  ~HomeLock();
  HomeLock(const HomeLock&) = delete;
  HomeLock& operator=(const HomeLock&) = delete;

  // Tries once and never waits. `holder` names this program in the file ("zibu", "zibu-cli
  // rate"). When the home is in use, nothing in it is changed. After InUse or Failed, Message()
  // says why in words for the user.
  Result Acquire(const std::string& home, const std::string& holder);
  // Removes the lock file and drops the lock; harmless when nothing is held.
  void Release();

  bool Held() const { return fd_ >= 0; }
  const std::string& Message() const { return message_; }
  // What the lock file says about the program that holds it ("zibu (process 1234)"); empty when
  // the file names nobody.
  const std::string& Holder() const { return holderText_; }
  static std::string FileName(const std::string& home);

 private:
  int fd_ = -1;
  std::string path_;
  std::string message_;
  std::string holderText_;
};

}  // namespace zibu
