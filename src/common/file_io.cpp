#include "common/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "common/errors.h"

namespace zibu {

std::string ReadStreamBytes(std::FILE* f, const std::string& shownName) {
  std::string data;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, got);
  if (std::ferror(f)) throw IoError("Cannot read " + shownName + ". " + std::strerror(errno));
  return data;
}

std::string ReadFileBytes(const std::string& fileName) {
  std::FILE* f = std::fopen(fileName.c_str(), "rb");
  if (!f) throw IoError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
  try {
    std::string data = ReadStreamBytes(f, "file \"" + fileName + "\"");
    std::fclose(f);
    return data;
  } catch (...) {
    std::fclose(f);
    throw;
  }
}

int WriteFileErrno(const std::string& path, const std::string& bytes, unsigned mode, bool* created) {
  // Plain system calls, so that a failure names its cause ("No space left on device") for the
  // user, which a stream would lose.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (created) *created = fd >= 0;
  if (fd < 0) return errno;
  int err = 0;
  size_t done = 0;
  while (done < bytes.size() && err == 0) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      err = n < 0 ? errno : ENOSPC;
    else
      done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  return err;
}

void WriteFileAtomic(const std::string& fileName, const std::string& bytes) {
  const std::string temp = fileName + ".tmp";
  bool created = false;
  int err = WriteFileErrno(temp, bytes, 0666, &created);
  if (!created) throw IoError("Cannot create file \"" + temp + "\". " + std::strerror(err));
  if (err != 0) {
    std::remove(temp.c_str());
    throw IoError("Cannot write file \"" + temp + "\". " + std::strerror(err));
  }
  if (std::rename(temp.c_str(), fileName.c_str()) != 0) {
    err = errno;
    std::remove(temp.c_str());
    throw IoError("Cannot rename \"" + temp + "\" to \"" + fileName + "\". " + std::strerror(err));
  }
}

}  // namespace zibu
