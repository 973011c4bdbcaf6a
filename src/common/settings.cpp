#include "common/settings.h"

// Debian builds SimpleIni with its ICU converter; values stay bytes since the A variant is used.
#define SI_CONVERT_ICU
#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "common/errors.h"
#include "common/numbers.h"

namespace zibu {

struct SettingsFile::Impl {
  CSimpleIniA ini{/*isUtf8=*/false, /*multiKey=*/false, /*multiLine=*/false};
};

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)), impl_(std::make_unique<Impl>()) {
  impl_->ini.SetSpaces(false);
  impl_->ini.SetQuotes(false);
  // A missing or unreadable file gives the defaults, as the profile functions do.
  impl_->ini.LoadFile(path_.c_str());
}

SettingsFile::~SettingsFile() = default;

bool SettingsFile::HasKey(const std::string& section, const std::string& key) const {
  return impl_->ini.GetValue(section.c_str(), key.c_str(), nullptr) != nullptr;
}

std::string SettingsFile::ReadString(const std::string& section, const std::string& key,
                                     const std::string& def) const {
  const char* v = impl_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
  return v ? std::string(v) : def;
}

int SettingsFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  const char* v = impl_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
  if (!v) return def;
  return StrToIntDef(v, def);
}

bool SettingsFile::ReadFlag(const std::string& section, const std::string& key, bool def) const {
  const char* v = impl_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
  if (!v) return def;
  return std::string(v) == "true";
}

void SettingsFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  impl_->ini.SetValue(section.c_str(), key.c_str(), value.c_str(), nullptr, /*forceReplace=*/true);
}

void SettingsFile::DeleteKey(const std::string& section, const std::string& key) {
  impl_->ini.Delete(section.c_str(), key.c_str(), /*removeEmpty=*/false);
}

void SettingsFile::WriteInteger(const std::string& section, const std::string& key, long long value) {
  WriteString(section, key, std::to_string(value));
}

void SettingsFile::WriteFlag(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "true" : "false");
}

void SettingsFile::Save() {
  std::string data;
  if (impl_->ini.Save(data) < 0) throw IoError("Unable to write to " + path_);
  const std::string tmp = path_ + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw IoError("Unable to write to " + path_);
  ::fchmod(fd, 0600);
  size_t off = 0;
  bool ok = true;
  while (off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n <= 0) {
      ok = false;
      break;
    }
    off += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok || ::rename(tmp.c_str(), path_.c_str()) != 0) {
    ::unlink(tmp.c_str());
    throw IoError("Unable to write to " + path_);
  }
}

std::string EncodeCrlfLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) {
    out += l;
    out += "CRLF";
  }
  // A line may itself hold a CR LF pair; it is encoded the same way.
  std::string result;
  result.reserve(out.size());
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') {
      result += "CRLF";
      ++i;
    } else {
      result += out[i];
    }
  }
  return result;
}

std::vector<std::string> DecodeCrlfLines(const std::string& stored) {
  std::string text;
  text.reserve(stored.size());
  for (size_t i = 0; i < stored.size();) {
    if (i + 4 <= stored.size() && (stored[i] == 'C' || stored[i] == 'c') &&
        (stored[i + 1] == 'R' || stored[i + 1] == 'r') && (stored[i + 2] == 'L' || stored[i + 2] == 'l') &&
        (stored[i + 3] == 'F' || stored[i + 3] == 'f')) {
      text += "\r\n";
      i += 4;
    } else {
      text += stored[i++];
    }
  }
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t p = text.find("\r\n", start);
    if (p == std::string::npos) break;
    lines.push_back(text.substr(start, p - start));
    start = p + 2;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace zibu
