// The learned-data files of LearningEngine: the common words, the word weightings and the
// relationship table, saved with a backup of the previous save and loaded with recovery.
//
// A save goes through a commit point so that a crash at any moment leaves every file complete:
//   1. every file is written in full beside its final name ("<name>.new") and, when durable
//      saving is on, flushed to the disk;
//   0. with backups on, the old backups are deleted (their memory is then reused for writing);
//   2. with backups on, each current file becomes the backup (a hard link under a temporary name
//      renamed into place: the data folder keeps its file all the while);
//   3. the commit record "save.commit" (naming the files of this save) is put in place by rename;
//   4. each "<name>.new" is renamed over "<name>", and the commit record is removed.
// Until step 3 the data folder holds the previous save, whole. After it, a load first finishes
// the renames of step 4, so it gets the new save whole; the backup holds the previous save.
// Durable saving flushes the file contents before the commit record names them, which is what
// keeps the files whole across a power cut too (renames are journalled in order). The folders
// are not flushed: after a power cut the last save may be missing, never half there, and
// flushing a folder commits the whole file system's journal, which on a busy disk costs seconds.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/compmap.h"
#include "common/errors.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "learning/engine.h"
#include "learning/reltable_file.h"

namespace zibu {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCommitRecord = "save.commit";
constexpr const char* kNewSuffix = ".new";

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

void SyncPath(const std::string& path, bool directory) {
  const int fd = ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    if (directory) return;
    throw IoError("Unable to write to " + path);
  }
  const int rc = directory ? ::fsync(fd) : ::fdatasync(fd);
  ::close(fd);
  if (rc != 0 && !directory) throw IoError("Unable to write to " + path);
}

void RenameOrThrow(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) throw IoError("Cannot rename \"" + from + "\" to \"" + to + "\". " + ec.message());
}

// The names listed in a commit record, or none when it is missing or unreadable.
std::vector<std::string> ReadCommitRecord(const std::string& path) {
  std::vector<std::string> names;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Only our own file names: a damaged record must not rename anything else.
    if (line == kShownUrlsFile || line == kWordWeightsFile || line == kRelTableFile) names.push_back(line);
  }
  return names;
}

}  // namespace

void LearningEngine::SetDataFolder(const std::string& dataDir, bool create) {
  dataDir_ = dataDir;
  if (!dataDir_.empty() && dataDir_.back() != '/') dataDir_ += '/';
  if (!create) return;
  std::error_code ec;
  fs::create_directories(BackupDir(), ec);
}

void LearningEngine::LoadCommonWords() {
  LoadCommonWords(dataDir_ + kCommonWordsFile);
}

void LearningEngine::LoadCommonWords(const std::string& path) {
  commonWords_.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  std::string line;
  while (std::getline(in, line)) {
    std::string word = Trim(line);
    if (!word.empty()) commonWords_.push_back(std::move(word));
  }
  SortUnique(commonWords_);
}

void LearningEngine::LoadWordWeightings(const std::string& path) {
  if (scanDepth_ > 0)
    throw Error("I cannot load learned data while a relevance scan is running", "EInvalidOperation");
  wordWeights_->Clear();
  try {
    wordWeights_->LoadFromFile(path);
  } catch (...) {
    for (int i = 0; i < wordWeights_->Count(); ++i)
      wordWeights_->SetValueAt(i, static_cast<int8_t>(Clamp(wordWeights_->ValueAt(i))));
    throw;
  }
  for (int i = 0; i < wordWeights_->Count(); ++i)
    wordWeights_->SetValueAt(i, static_cast<int8_t>(Clamp(wordWeights_->ValueAt(i))));
}

bool LearningEngine::LoadRelTable(const std::string& path) {
  if (scanDepth_ > 0)
    throw Error("I cannot load learned data while a relevance scan is running", "EInvalidOperation");
  if (!Exists(path)) return false;
  try {
    ReadRelTableFile(relTable_, path, port_);
  } catch (const Error& e) {
    port_->Log(e.Kind() + ": " + e.what(), false);
    return false;
  } catch (const std::bad_alloc&) {
    port_->Log("EOutOfMemory: Out of memory while reading " + path, false);
    return false;
  }
  return relTable_.IsSquare(WordCount());
}

bool LearningEngine::CompleteInterruptedSave() {
  if (dataDir_.empty()) return false;
  const std::string record = dataDir_ + kCommitRecord;
  const bool committed = Exists(record);
  if (committed) {
    for (const auto& name : ReadCommitRecord(record)) {
      const std::string fresh = dataDir_ + name + kNewSuffix;
      if (Exists(fresh)) RenameOrThrow(fresh, dataDir_ + name);
    }
    RemoveQuietly(record);
    port_->Log("I have finished the save of learned data that was interrupted", false);
  }
  // Files of a save that never reached its commit point are incomplete or unwanted.
  for (const char* name : {kShownUrlsFile, kWordWeightsFile, kRelTableFile})
    RemoveQuietly(dataDir_ + name + kNewSuffix);
  RemoveQuietly(record + kNewSuffix);
  return committed;
}

void LearningEngine::SaveData(const TCompMap* shownUrls) {
  port_->ShowProgress("Saving data...", 0);
  port_->Log("Saving data...", false);
  try {
    SaveFiles(shownUrls);
  } catch (...) {
    // The error goes to the caller; the splash must not stay up.
    port_->HideProgress();
    throw;
  }
  port_->Log("Finished saving data...", false);
  port_->HideProgress();
}

void LearningEngine::SaveFiles(const TCompMap* shownUrls) {
  std::vector<std::string> names;
  if (shownUrls) names.push_back(kShownUrlsFile);
  names.push_back(kWordWeightsFile);
  names.push_back(kRelTableFile);
  auto step = [&](const std::string& what) {
    if (saveStepHook_) saveStepHook_(what);
  };

  // 0. The old backups go first, as they always did: their pages are then free for the new
  //    files, which on a large table is several times faster than taking fresh memory. The data
  //    folder still holds the last save, whole, and becomes the backup below.
  if (backupDataFiles_) {
    for (const auto& name : names) {
      if (!Exists(dataDir_ + name)) continue;
      step("drop backup " + name);
      RemoveQuietly(BackupDir() + name);
    }
  }

  // 1. Everything written in full under temporary names; the current files are untouched.
  try {
    for (const auto& name : names) {
      const std::string fresh = dataDir_ + name + kNewSuffix;
      step("write " + name);
      if (name == kShownUrlsFile) {
        shownUrls->SaveToFile(fresh);
        if (durableSave_) SyncPath(fresh, false);
      } else if (name == kWordWeightsFile) {
        wordWeights_->SaveToFile(fresh);
        if (durableSave_) SyncPath(fresh, false);
      } else {
        WriteRelTableFile(relTable_, fresh, port_, name, durableSave_);
      }
      step("written " + name);
    }
  } catch (...) {
    for (const auto& name : names) RemoveQuietly(dataDir_ + name + kNewSuffix);
    throw;
  }

  // 2. The current files become the backups (a second name, put in place by rename). Failures
  //    here cost only the backup copy.
  if (backupDataFiles_) {
    std::error_code ec;
    fs::create_directories(BackupDir(), ec);
    for (const auto& name : names) {
      const std::string current = dataDir_ + name;
      if (!Exists(current)) continue;
      const std::string staged = BackupDir() + name + kNewSuffix;
      RemoveQuietly(staged);
      step("backup " + name);
      fs::create_hard_link(current, staged, ec);
      if (ec) {
        ec.clear();
        fs::copy_file(current, staged, fs::copy_options::overwrite_existing, ec);
      }
      if (!ec) fs::rename(staged, BackupDir() + name, ec);
      if (ec) RemoveQuietly(staged);
      step("backed up " + name);
    }
  }

  // 3. The commit point.
  const std::string record = dataDir_ + kCommitRecord;
  {
    std::string text;
    for (const auto& name : names) text += name + "\r\n";
    const std::string staged = record + kNewSuffix;
    {
      std::ofstream out(staged, std::ios::binary | std::ios::trunc);
      out << text;
      out.close();
      if (!out) {
        for (const auto& name : names) RemoveQuietly(dataDir_ + name + kNewSuffix);
        RemoveQuietly(staged);
        throw IoError("Unable to write to " + staged);
      }
    }
    if (durableSave_) SyncPath(staged, false);
    step("commit");
    RenameOrThrow(staged, record);
  }

  // 4. The new files take their places.
  for (const auto& name : names) {
    step("rename " + name);
    RenameOrThrow(dataDir_ + name + kNewSuffix, dataDir_ + name);
  }
  step("done");
  RemoveQuietly(record);
}

std::string LearningEngine::CurrentFile(const std::string& name) const {
  // Read-only loads cannot finish an interrupted save; they read what it committed instead.
  const std::string record = dataDir_ + kCommitRecord;
  if (Exists(record)) {
    const auto names = ReadCommitRecord(record);
    if (std::find(names.begin(), names.end(), name) != names.end() && Exists(dataDir_ + name + kNewSuffix))
      return dataDir_ + name + kNewSuffix;
  }
  return dataDir_ + name;
}

void LearningEngine::LoadData(TCompMap* shownUrls, bool readOnly) {
  if (scanDepth_ > 0)
    throw Error("I cannot load learned data while a relevance scan is running", "EInvalidOperation");
  if (!readOnly) CompleteInterruptedSave();

  if (shownUrls) {
    try {
      shownUrls->LoadFromFile(CurrentFile(kShownUrlsFile));
    } catch (const std::exception& e) {
      port_->Log(ErrorText(e), false);
    }
  }
  LoadCommonWords();
  LoadWordData(readOnly);
}

void LearningEngine::LoadWordData(bool readOnly) {
  if (scanDepth_ > 0)
    throw Error("I cannot load learned data while a relevance scan is running", "EInvalidOperation");
  if (!readOnly) CompleteInterruptedSave();
  port_->ShowProgress("Loading word weightings...", 0);
  bool weightsOk = true;
  try {
    LoadWordWeightings(CurrentFile(kWordWeightsFile));
  } catch (const std::exception& e) {
    // A damaged word file makes the pair unusable: the recovery below takes the backup pair.
    port_->Log(ErrorText(e), false);
    weightsOk = false;
  }
  // The table is n by n zeros unless a file fills it; it is read into the memory it has, so
  // there is no zeroing of 400 MB just before they are overwritten.
  const std::string dataTable = CurrentFile(kRelTableFile);
  if (weightsOk) {
    if (WordCount() == 0 || !Exists(dataTable)) {
      relTable_.Reset(WordCount());
      return;
    }
    if (LoadRelTable(dataTable)) return;
  }

  const std::string backupTable = BackupDir() + kRelTableFile;
  const std::string backupWeights = BackupDir() + kWordWeightsFile;
  if (Exists(backupTable)) {
    port_->ShowMessage(
        "Error loading word relationship table.\r\nI will try to load it from the last backup");
    bool loaded = false;
    // Without its word file the backup table has nothing to pair with: the data folder's
    // weights stay, rather than being replaced by none. They also stay when the backup pair
    // turns out unusable.
    if (Exists(backupWeights)) {
      port_->ShowProgress("Loading backup word weightings...", 0);
      auto dataWeights = std::make_unique<TShortIntMap>(*wordWeights_);
      try {
        LoadWordWeightings(backupWeights);
        loaded = LoadRelTable(backupTable);
      } catch (const std::exception& e) {
        port_->Log(ErrorText(e), false);
      }
      if (!loaded) wordWeights_ = std::move(dataWeights);
    }
    if (loaded) {
      port_->ShowMessage("Loading backup word relationship table was successful");
    } else {
      port_->ShowMessage(
          "Error loading backup word relationship table.\r\nWord relationships will be reset.");
      relTable_.Reset(WordCount());
    }
  } else {
    port_->ShowMessage(
        "Error loading word relationship table.\r\nNo backup exists, so word relationships will be reset");
    relTable_.Reset(WordCount());
  }
}

}  // namespace zibu
