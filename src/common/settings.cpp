#include "common/settings.h"

// Debian builds SimpleIni with its ICU converter; values stay bytes since the A variant is used.
#define SI_CONVERT_ICU
#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/errors.h"
#include "common/file_io.h"
#include "common/numbers.h"

namespace zibu {

struct SettingsFile::Impl {
  CSimpleIniA ini{/*isUtf8=*/false, /*multiKey=*/false, /*multiLine=*/false};
};

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)), impl_(std::make_unique<Impl>()) {
  impl_->ini.SetSpaces(false);
  impl_->ini.SetQuotes(false);
  // A missing file gives the defaults, as the profile functions do.
  std::error_code ec;
  if (!std::filesystem::exists(path_, ec) && !ec) return;
  std::string data;
  try {
    data = ReadFileBytes(path_);
  } catch (const std::exception& e) {
    loadProblem_ = ProblemText(e);
    return;
  }
  // The parser stops at a NUL byte; everything after it would be lost by the next save.
  const size_t size = data.size();
  data.erase(std::remove(data.begin(), data.end(), '\0'), data.end());
  nulBytesDropped_ = static_cast<int>(std::min<size_t>(size - data.size(), INT_MAX));
  SI_Error rc = SI_FAIL;
  try {
    rc = impl_->ini.LoadData(data);
  } catch (const std::bad_alloc&) {
    rc = SI_NOMEM;
  }
  if (rc < 0) {
    impl_->ini.Reset();
    loadProblem_ = rc == SI_NOMEM ? "there is not enough memory" : "it is not a settings file I can read";
  }
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

std::vector<std::string> SettingsFile::Sections() const {
  CSimpleIniA::TNamesDepend names;
  impl_->ini.GetAllSections(names);
  names.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> out;
  for (const auto& n : names) out.emplace_back(n.pItem);
  return out;
}

std::vector<std::string> SettingsFile::Keys(const std::string& section) const {
  CSimpleIniA::TNamesDepend names;
  impl_->ini.GetAllKeys(section.c_str(), names);
  names.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> out;
  for (const auto& n : names) out.emplace_back(n.pItem);
  return out;
}

void SettingsFile::KeepBackup() {
  backupProblem_.clear();
  std::error_code ec;
  if (!std::filesystem::exists(path_, ec)) return;
  const std::string staged = backupPath_ + ".new";
  std::filesystem::remove(staged, ec);
  ec.clear();
  std::filesystem::create_hard_link(path_, staged, ec);
  if (ec) {
    ec.clear();
    std::filesystem::copy_file(path_, staged, std::filesystem::copy_options::overwrite_existing, ec);
  }
  if (!ec) std::filesystem::rename(staged, backupPath_, ec);
  if (ec) {
    backupProblem_ = ec.message();
    std::error_code ignored;
    std::filesystem::remove(staged, ignored);
  }
}

void SettingsFile::Save() {
  // Writing would replace what could not be read with the little this run knows.
  if (!loadProblem_.empty())
    throw IoError("I have not saved " + path_ + ", because I could not read it: " + loadProblem_);
  std::string data;
  if (impl_->ini.Save(data) < 0) throw IoError("Unable to write to " + path_);
  const std::string tmp = path_ + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw IoError("Unable to write to " + path_);
  ::fchmod(fd, 0600);
  size_t off = 0;
  bool ok = true;
  int err = 0;  // the cause, for the user: "No space left on device" says what to do
  while (off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      err = n < 0 ? errno : ENOSPC;
      break;
    }
    off += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    err = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && !backupPath_.empty()) KeepBackup();
  if (ok && ::rename(tmp.c_str(), path_.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    throw IoError("Unable to write to " + path_ + (err ? std::string(": ") + std::strerror(err) : std::string()));
  }
}

BoundedCount BoundCount(const std::string& key, int stored, int present, int limit,
                        const std::string& entries) {
  BoundedCount b;
  b.count = std::max(0, std::min({stored, present, limit}));
  if (b.count == std::max(0, stored)) return b;
  if (present < std::min(stored, limit)) {
    b.note = key + " in zibu.conf is " + std::to_string(stored) + ", but the file holds " +
             std::to_string(present) + " " + entries + ": I have read " + std::to_string(b.count);
  } else {
    b.note = key + " in zibu.conf is " + std::to_string(stored) + ", more than the " + std::to_string(limit) +
             " " + entries + " I keep: I have read the first " + std::to_string(b.count);
  }
  return b;
}

int EntriesPresent(const std::vector<std::string>& names, const std::string& prefix,
                   const std::vector<std::string>& suffixes, int limit) {
  auto sameText = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
        return false;
    return true;
  };
  int present = 0;
  for (const std::string& name : names) {
    const std::string_view v(name);
    if (v.size() <= prefix.size() || !sameText(v.substr(0, prefix.size()), prefix)) continue;
    size_t end = prefix.size();
    while (end < v.size() && v[end] >= '0' && v[end] <= '9') ++end;
    const std::string_view digits = v.substr(prefix.size(), end - prefix.size());
    // Only the spelling the readers look up: no sign, no leading zero.
    if (digits.empty() || digits.size() > 9 || (digits.size() > 1 && digits[0] == '0')) continue;
    if (std::none_of(suffixes.begin(), suffixes.end(),
                     [&](const std::string& suffix) { return sameText(v.substr(end), suffix); }))
      continue;
    const int n = std::stoi(std::string(digits));
    if (n < limit) present = std::max(present, n + 1);
  }
  return present;
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
