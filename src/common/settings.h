// zibu.conf access with the behaviour of the classic profile functions: section and key
// names compare without regard to letter case, a missing file or key gives the default,
// and keys the program does not know are kept as they are. Unlike those functions, a value
// is never cut, whatever its length.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zibu {

class SettingsFile {
 public:
  // Reads the whole file if it exists; a missing file behaves as an empty one. A NUL byte does
  // not end the reading: NUL bytes are dropped, so no key after one is lost (NulBytesDropped).
  // A file that exists but cannot be read is kept as it is: Loaded() is false and Save() refuses.
  explicit SettingsFile(std::string path);
  ~SettingsFile();
  SettingsFile(const SettingsFile&) = delete;
  SettingsFile& operator=(const SettingsFile&) = delete;

  const std::string& Path() const { return path_; }
  // False when the file exists but could not be read; LoadProblem() then says why (without the
  // file's name).
  bool Loaded() const { return loadProblem_.empty(); }
  const std::string& LoadProblem() const { return loadProblem_; }
  int NulBytesDropped() const { return nulBytesDropped_; }

  // Section names, and the key names of one section, as the file spells them.
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(const std::string& section) const;

  bool HasKey(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // Integer rule of numbers.h; a missing key or a text that is not an integer gives `def`.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  // A flag is true exactly when its text is "true".
  bool ReadFlag(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, long long value);
  void WriteFlag(const std::string& section, const std::string& key, bool value);
  // Removes the key; nothing happens when there is none.
  void DeleteKey(const std::string& section, const std::string& key);

  // Writes the file to a temporary name beside it and renames it into place, readable by
  // its owner only (it holds the proxy password). Raises IoError "Unable to write to <path>",
  // and, without writing, when the file was there but could not be read.
  void Save();
  // With a path set, Save keeps the file it replaces under that name (the previous save, as the
  // backup folder keeps the learned files): a second name put in place by rename once the new
  // file is written, so that at every moment both names hold a whole file. Failing to keep the
  // copy does not fail the save: BackupProblem() then says why, and the old copy stays.
  void SetBackupPath(std::string path) { backupPath_ = std::move(path); }
  const std::string& BackupProblem() const { return backupProblem_; }

 private:
  struct Impl;
  void KeepBackup();
  std::string path_;
  std::unique_ptr<Impl> impl_;
  std::string loadProblem_;
  int nulBytesDropped_ = 0;
  std::string backupPath_;
  std::string backupProblem_;
};

// A count stored in zibu.conf, bounded by what the file holds: at most `present` entries (those
// the file has keys or sections for) and at most `limit`. `note` is the status line for a
// stored count that had to be cut, empty otherwise.
struct BoundedCount {
  int count = 0;
  std::string note;
};
BoundedCount BoundCount(const std::string& key, int stored, int present, int limit,
                        const std::string& entries);

// 1 + the highest n (below `limit`) for which one of `names` is `prefix` + n + one of
// `suffixes`, n in canonical decimal, letters compared without regard to case; 0 when none is.
int EntriesPresent(const std::vector<std::string>& names, const std::string& prefix,
                   const std::vector<std::string>& suffixes, int limit);

// Multi-line texts are stored on one line, every line break written as "CRLF".
// Encoding: every line followed by CR LF, then each CR LF replaced by "CRLF".
std::string EncodeCrlfLines(const std::vector<std::string>& lines);
// Decoding: "CRLF" in any letter case becomes CR LF, then the text is split into lines
// (pieces before each CR LF, empty ones included; the rest only when not empty).
std::vector<std::string> DecodeCrlfLines(const std::string& stored);

}  // namespace zibu
