#include "common/file_io.h"

#include <cerrno>
#include <cstring>
#include <fstream>

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

void WriteFileAtomic(const std::string& fileName, const std::string& bytes) {
  const std::string temp = fileName + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) throw IoError("Cannot create file \"" + temp + "\". " + std::strerror(errno));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      std::remove(temp.c_str());
      throw IoError("Cannot write file \"" + temp + "\"");
    }
  }
  if (std::rename(temp.c_str(), fileName.c_str()) != 0) {
    const int err = errno;
    std::remove(temp.c_str());
    throw IoError("Cannot rename \"" + temp + "\" to \"" + fileName + "\". " + std::strerror(err));
  }
}

}  // namespace zibu
