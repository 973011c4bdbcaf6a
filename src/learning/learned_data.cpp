// The learned-data files of LearningEngine: the common words, the word weightings and the
// relationship table, saved with a backup of the previous save and loaded with recovery.
//
// A save writes only the files whose content changed since this run last read or wrote them, and
// never one this run has not loaded. It goes through a commit point so that a crash, a full disk
// or a refused write at any moment leaves every file complete, in the data folder and in the
// backup folder alike:
//   1. every file is written in full beside its final name ("<name>.new") and, when durable
//      saving is on, flushed to the disk;
//   2. with backups on, each current file that is to become the backup gets a second name beside
//      its backup ("backup/<name>.new", a hard link, or a copy where links are refused); the
//      backups themselves are not touched yet. The word file and the table go together: when one
//      of them cannot be staged, neither is, and the backup folder keeps its older pair;
//   3. the commit record "save.commit" (naming the files of this save and the backups staged)
//      is put in place by rename;
//   4. each staged backup is renamed over its backup, each "<name>.new" over "<name>", and the
//      commit record is removed.
// Until step 3 both folders hold what they held before the save, whole; a failure removes what
// the save had staged. After it, a load (or the next save) first finishes the renames of step 4,
// so it gets the new save whole, and the backup holds the previous save. Durable saving flushes
// the file contents before the commit record names them, which is what keeps the files whole
// across a power cut too (renames are journalled in order). The folders are not flushed: after a
// power cut the last save may be missing, never half there, and flushing a folder commits the
// whole file system's journal, which on a busy disk costs seconds.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/compmap.h"
#include "common/errors.h"
#include "common/file_io.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "learning/engine.h"
#include "learning/reltable_file.h"

namespace zibu {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCommitRecord = "save.commit";
// Damaged lines reported one by one, before a count of the rest.
constexpr int kMaxLoggedLines = 10;
// No honest word file of kMaxWordCount words comes near this.
constexpr uintmax_t kMaxWordFileBytes = uintmax_t{64} << 20;

const char* FileName(LearnedFile f) {
  switch (f) {
    case LearnedFile::kShownUrls:
      return kShownUrlsFile;
    case LearnedFile::kWordWeightings:
      return kWordWeightsFile;
    case LearnedFile::kRatedArticles:
      return kRatedArticlesFile;
    case LearnedFile::kRecentScores:
      return kRecentScoresFile;
    default:
      return kRelTableFile;
  }
}

// The entries of a word file (lines holding "="), counted without reading it into memory;
// counting stops once it passes `limit`.
int64_t CountEntries(const std::string& path, int64_t limit) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buf(1 << 16);
  int64_t entries = 0;
  bool lineHasEquals = false;
  while (in && entries <= limit) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const std::streamsize got = in.gcount();
    for (std::streamsize i = 0; i < got; ++i) {
      if (buf[i] == '=') {
        lineHasEquals = true;
      } else if (buf[i] == '\n') {
        entries += lineHasEquals;
        lineHasEquals = false;
      }
    }
  }
  return entries + lineHasEquals;
}

// A word file too large to use.
class VocabularyTooLarge : public Error {
 public:
  explicit VocabularyTooLarge(const std::string& message) : Error(message, "EVocabularyTooLarge") {}
};
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

constexpr const char* kLearnedFiles[] = {kShownUrlsFile, kWordWeightsFile, kRelTableFile, kRatedArticlesFile,
                                         kRecentScoresFile};
// A commit record names a staged backup as this prefix and the file's name.
constexpr std::string_view kBackupPrefix = "backup/";

bool IsLearnedFile(std::string_view name) {
  return std::find(std::begin(kLearnedFiles), std::end(kLearnedFiles), name) != std::end(kLearnedFiles);
}

// What a commit record lists: the data files, and the backups staged.
struct CommitRecord {
  std::vector<std::string> files;
  std::vector<std::string> backups;
};

// The names listed in a commit record, or none when it is missing or unreadable.
CommitRecord ReadCommitRecord(const std::string& path) {
  CommitRecord record;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Only our own file names: a damaged record must not rename anything else.
    if (IsLearnedFile(line)) {
      record.files.push_back(line);
    } else if (line.compare(0, kBackupPrefix.size(), kBackupPrefix) == 0 &&
               IsLearnedFile(std::string_view(line).substr(kBackupPrefix.size()))) {
      record.backups.push_back(line.substr(kBackupPrefix.size()));
    }
  }
  return record;
}

std::string SystemText(int err) {
  return std::strerror(err);
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
  // A file that is there but cannot be read is never written over.
  commonWordsLoaded_ = in.is_open() || !Exists(path);
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
  const std::string name = fs::path(path).filename().string();
  int bad = 0;
  int badLines = 0;
  lastWordFileBadValues_ = 0;
  lastWordFileBadLines_ = 0;
  try {
    // A value that is not a number costs that value alone: the word stays, with weight 0, so
    // that every later word keeps its row of the table.
    wordWeights_->LoadFromFile(
        path,
        [&](int line, const std::string& key, const std::string& error) {
          if (++bad + badLines <= kMaxLoggedLines)
            port_->Log(name + " line " + std::to_string(line) + ": " + Excerpt(error) +
                           "; I have kept the word " + Excerpt(key) + " with weight 0",
                       false);
        },
        // A line without "=" holds no word: every word after it has lost its row of the table.
        [&](int line, std::string_view text) {
          if (bad + ++badLines <= kMaxLoggedLines)
            port_->Log(name + " line " + std::to_string(line) + ": " + Excerpt(text) +
                           " is not a word and its weight; I have skipped that line",
                       false);
        });
  } catch (...) {
    for (int i = 0; i < wordWeights_->Count(); ++i)
      wordWeights_->SetValueAt(i, static_cast<int8_t>(Clamp(wordWeights_->ValueAt(i))));
    throw;
  }
  if (bad + badLines > kMaxLoggedLines)
    port_->Log(name + ": " + std::to_string(bad + badLines) + " lines in all could not be read whole", false);
  lastWordFileBadValues_ = bad;
  lastWordFileBadLines_ = badLines;
  for (int i = 0; i < wordWeights_->Count(); ++i)
    wordWeights_->SetValueAt(i, static_cast<int8_t>(Clamp(wordWeights_->ValueAt(i))));
}

void LearningEngine::LoadWordWeightingsBounded(const std::string& path) {
  std::error_code ec;
  const uintmax_t bytes = fs::file_size(path, ec);
  if (!ec) {
    const std::string refused = "I cannot use " + path + ": it holds more than " +
                                std::to_string(kMaxWordCount) + " words, the most I can keep";
    if (bytes > kMaxWordFileBytes) throw VocabularyTooLarge(refused);
    // Every entry takes at least three bytes ("A=0"), so only a large file needs counting.
    if (bytes / 3 > static_cast<uintmax_t>(kMaxWordCount) &&
        CountEntries(path, kMaxWordCount) > kMaxWordCount)
      throw VocabularyTooLarge(refused);
  }
  LoadWordWeightings(path);
}

bool LearningEngine::LoadRelTable(const std::string& path) {
  if (scanDepth_ > 0)
    throw Error("I cannot load learned data while a relevance scan is running", "EInvalidOperation");
  lastTableDense_ = false;
  lastTableReadError_ = false;
  if (!Exists(path)) return false;
  try {
    lastTableDense_ = ReadRelTableFile(relTable_, path, port_) == RelTableForm::kDense;
  } catch (const Error& e) {
    port_->Log(e.Kind() + ": " + e.what(), false);
    lastTableReadError_ = true;
    return false;
  } catch (const std::bad_alloc&) {
    port_->Log("EOutOfMemory: Out of memory while reading " + path, false);
    lastTableReadError_ = true;
    return false;
  }
  return relTable_.IsSquare(WordCount());
}

bool LearningEngine::CompleteInterruptedSave() {
  if (dataDir_.empty()) return false;
  // What a kill left of a write of the common words; the list itself is whole, old or new.
  RemoveQuietly(dataDir_ + kCommonWordsFile + ".tmp");
  return FinishCommittedSave();
}

bool LearningEngine::FinishCommittedSave() {
  const std::string record = dataDir_ + kCommitRecord;
  const bool committed = Exists(record);
  if (committed) {
    const CommitRecord r = ReadCommitRecord(record);
    for (const auto& name : r.backups) {
      const std::string staged = BackupDir() + name + kNewSuffix;
      if (Exists(staged)) RenameOrThrow(staged, BackupDir() + name);
    }
    for (const auto& name : r.files) {
      const std::string fresh = dataDir_ + name + kNewSuffix;
      if (Exists(fresh)) RenameOrThrow(fresh, dataDir_ + name);
    }
    // The record goes only once everything is in place; one left behind would name the files of
    // a later save that never reached its own commit point.
    std::error_code ec;
    fs::remove(record, ec);
    if (ec) throw IoError("Cannot remove \"" + record + "\". " + ec.message());
    port_->Log("I have finished the save of learned data that was interrupted", false);
  }
  // Files of a save that never reached its commit point, and what a write cut short left under
  // its temporary name, are incomplete or unwanted.
  for (const char* name : kLearnedFiles) {
    RemoveQuietly(dataDir_ + name + kNewSuffix);
    RemoveQuietly(dataDir_ + name + kNewSuffix + ".tmp");
    RemoveQuietly(BackupDir() + name + kNewSuffix);
  }
  RemoveQuietly(record + kNewSuffix);
  return committed;
}

// ---- what changed ----------------------------------------------------------------------------

std::string LearningEngine::StampOf(const std::string& name) const {
  struct stat st {};
  if (::stat((dataDir_ + name).c_str(), &st) != 0) return "";
  return std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ino);
}

uint64_t LearningEngine::ContentVersion(LearnedFile f, const TCompMap* shownUrls) const {
  switch (f) {
    case LearnedFile::kShownUrls:
      return shownUrls ? shownUrls->Version() : 0;
    case LearnedFile::kWordWeightings:
      return wordWeights_->Version();
    case LearnedFile::kRatedArticles:
      return ratedArticles_.Version();
    case LearnedFile::kRecentScores:
      return recentScores_.Version();
    default:
      return relTable_.Version();
  }
}

void LearningEngine::Remember(LearnedFile f, uint64_t version, bool good) {
  FileState& s = State(f);
  s.loaded = true;
  s.good = good;
  s.version = version;
  s.stamp = StampOf(FileName(f));
}

bool LearningEngine::Unchanged(LearnedFile f, const TCompMap* shownUrls) const {
  const FileState& s = files_[static_cast<int>(f)];
  return s.version != 0 && s.version == ContentVersion(f, shownUrls) && s.stamp == StampOf(FileName(f));
}

// ---- save ------------------------------------------------------------------------------------

std::unique_ptr<LearningEngine> LearningEngine::SaveSnapshot(UserPort& port) const {
  auto copy = std::make_unique<LearningEngine>(port);
  *copy->wordWeights_ = *wordWeights_;
  copy->relTable_ = relTable_.Clone();
  copy->ratedArticles_ = ratedArticles_;
  copy->recentScores_ = recentScores_;
  copy->dataDir_ = dataDir_;
  copy->backupDataFiles_ = backupDataFiles_;
  copy->durableSave_ = durableSave_;
  copy->saveStepHook_ = saveStepHook_;
  copy->saveFaultHook_ = saveFaultHook_;
  copy->committedNotFinished_ = committedNotFinished_;
  for (int i = 0; i < kLearnedFileCount; ++i) copy->files_[i] = copy->takenFrom_[i] = files_[i];
  copy->quiet_ = quiet_;
  return copy;
}

void LearningEngine::AdoptSaveState(const LearningEngine& saved) {
  // A file loaded or cleared meanwhile keeps what that found: above all, a file that did not
  // load must not be taken as loaded from the copy.
  for (int i = 0; i < kLearnedFileCount; ++i)
    if (files_[i] == saved.takenFrom_[i]) files_[i] = saved.files_[i];
  // The copy started with this engine's list and finished it or added to it.
  committedNotFinished_ = saved.committedNotFinished_;
}

void LearningEngine::SaveData(const TCompMap* shownUrls) {
  port_->ShowProgress("Saving data...", 0);
  port_->Log("Saving data...", false);
  // A rating given from the message processing of the progress display waits until the files
  // are written, so that no file mixes two states.
  ++scanDepth_;
  try {
    SaveFiles(shownUrls);
  } catch (...) {
    // The error goes to the caller; the splash must not stay up.
    port_->HideProgress();
    EndScan();
    throw;
  }
  port_->Log("Finished saving data...", false);
  port_->HideProgress();
  EndScan();
}

int LearningEngine::SaveStep(const std::string& step) const {
  if (saveStepHook_) saveStepHook_(step);
  return saveFaultHook_ ? saveFaultHook_(step) : 0;
}

void LearningEngine::SaveFiles(const TCompMap* shownUrls) {
  // A save that was committed but not put in place comes first: its record would otherwise name
  // this save's files before this save reaches its own commit point.
  const std::string record = dataDir_ + kCommitRecord;
  if (Exists(record)) {
    try {
      FinishCommittedSave();
    } catch (const std::exception& e) {
      throw SaveNotFinished("I could not finish the last save of learned data: " + ErrorText(e));
    }
  }
  // What that save wrote is now in place: it is not written again.
  for (const auto& [f, version] : committedNotFinished_) Remember(f, version, true);
  committedNotFinished_.clear();

  // What to write, and which files move to the backup folder together (a group: one record, or
  // the pair).
  std::vector<LearnedFile> write;
  std::vector<std::vector<LearnedFile>> rotate;
  auto notLoaded = [&](const std::string& what) {
    port_->Log("I have not saved " + what + ", as it was not loaded in full when I started", false);
  };
  if (shownUrls) {
    if (!DataLoaded(LearnedFile::kShownUrls)) {
      notLoaded(kShownUrlsFile);
    } else if (!Unchanged(LearnedFile::kShownUrls, shownUrls)) {
      write.push_back(LearnedFile::kShownUrls);
      if (State(LearnedFile::kShownUrls).good) rotate.push_back({LearnedFile::kShownUrls});
    }
  }
  // The records stand alone: they score nothing, so they need not pair with the word files.
  for (LearnedFile f : {LearnedFile::kRatedArticles, LearnedFile::kRecentScores}) {
    if (!DataLoaded(f)) {
      notLoaded(FileName(f));
    } else if (!Unchanged(f, shownUrls)) {
      write.push_back(f);
      if (State(f).good) rotate.push_back({f});
    }
  }
  if (!DataLoaded(LearnedFile::kWordWeightings) || !DataLoaded(LearnedFile::kRelTable)) {
    notLoaded(std::string(kWordWeightsFile) + " and " + kRelTableFile);
  } else {
    const bool words = !Unchanged(LearnedFile::kWordWeightings, shownUrls);
    const bool table = !Unchanged(LearnedFile::kRelTable, shownUrls);
    if (words) write.push_back(LearnedFile::kWordWeightings);
    if (table) write.push_back(LearnedFile::kRelTable);
    // The pair goes to the backup folder together, and only when both loaded whole.
    if ((words || table) && State(LearnedFile::kWordWeightings).good && State(LearnedFile::kRelTable).good)
      rotate.push_back({LearnedFile::kWordWeightings, LearnedFile::kRelTable});
  }
  if (!backupDataFiles_) rotate.clear();
  if (write.empty()) return;

  auto fail = [](const std::string& path, int err) {
    throw IoError("Unable to write to " + path + ": " + SystemText(err));
  };
  // Everything this save puts beside a final name, removed when it stops before its commit.
  std::vector<std::string> staged;
  std::vector<std::string> backedUp;  // the files whose backup is staged
  std::vector<uint64_t> written;
  try {
    // 1. Everything written in full under temporary names; the current files are untouched.
    for (LearnedFile f : write) {
      const std::string name = FileName(f);
      const std::string fresh = dataDir_ + name + kNewSuffix;
      staged.push_back(fresh);
      written.push_back(ContentVersion(f, shownUrls));
      if (int err = SaveStep("write " + name)) fail(fresh, err);
      if (f == LearnedFile::kShownUrls) {
        shownUrls->SaveToFile(fresh);
      } else if (f == LearnedFile::kWordWeightings) {
        wordWeights_->SaveToFile(fresh);
      } else if (f == LearnedFile::kRatedArticles) {
        ratedArticles_.SaveToFile(fresh);
      } else if (f == LearnedFile::kRecentScores) {
        recentScores_.SaveToFile(fresh);
      } else {
        WriteCompactRelTableFile(relTable_, fresh, port_, name, false);
      }
      if (durableSave_) {
        if (int err = SaveStep("sync " + name)) fail(fresh, err);
        SyncPath(fresh, false);
      }
    }

    // 2. The current files get a second name beside their backups; the backups stay as they are.
    //    A group that cannot be staged keeps its older backup, which is still whole: the save
    //    goes on and says so.
    if (!rotate.empty()) {
      std::error_code ec;
      fs::create_directories(BackupDir(), ec);
    }
    for (const auto& group : rotate) {
      // Only a group whose files are all there: a backup pair missing its table (the data
      // folder has none, its table is all zeros) would pair the new word file with an old table.
      if (!std::all_of(group.begin(), group.end(), [&](LearnedFile f) { return Exists(dataDir_ + FileName(f)); }))
        continue;
      std::string problem;
      std::vector<std::string> groupStaged;
      for (LearnedFile f : group) {
        const std::string name = FileName(f);
        const std::string current = dataDir_ + name;
        const std::string second = BackupDir() + name + kNewSuffix;
        RemoveQuietly(second);
        groupStaged.push_back(second);
        std::error_code ec;
        if (int err = SaveStep("link backup " + name)) {
          ec = std::error_code(err, std::generic_category());
        } else {
          fs::create_hard_link(current, second, ec);
          if (ec) {
            ec.clear();
            fs::copy_file(current, second, fs::copy_options::overwrite_existing, ec);
          }
        }
        if (ec) {
          problem = ec.message();
          break;
        }
      }
      std::string names;
      for (LearnedFile f : group) names += (names.empty() ? "" : " and ") + std::string(FileName(f));
      if (!problem.empty()) {
        for (const auto& p : groupStaged) RemoveQuietly(p);
        port_->Log("I could not keep the previous " + names + " in the backup folder (" + problem +
                       "); it keeps the older backup",
                   false);
        continue;
      }
      staged.insert(staged.end(), groupStaged.begin(), groupStaged.end());
      for (LearnedFile f : group) backedUp.push_back(FileName(f));
    }

    // 3. The commit point.
    std::string text;
    for (LearnedFile f : write) text += std::string(FileName(f)) + "\r\n";
    for (const auto& name : backedUp) text += std::string(kBackupPrefix) + name + "\r\n";
    const std::string stagedRecord = record + kNewSuffix;
    staged.push_back(stagedRecord);
    int err = SaveStep("write save.commit");
    if (err == 0) err = WriteFileErrno(stagedRecord, text);
    if (err != 0) fail(stagedRecord, err);
    if (durableSave_) {
      if (int e = SaveStep("sync save.commit")) fail(stagedRecord, e);
      SyncPath(stagedRecord, false);
    }
    if (int e = SaveStep("commit")) fail(record, e);
    RenameOrThrow(stagedRecord, record);
  } catch (...) {
    for (const auto& p : staged) RemoveQuietly(p);
    throw;
  }

  // 4. The backups and then the new files take their places. The save is committed: a failure
  //    here undoes nothing, and the next load (or save) finishes what the record names.
  try {
    for (const auto& name : backedUp) {
      if (int err = SaveStep("backup " + name)) fail(BackupDir() + name, err);
      RenameOrThrow(BackupDir() + name + kNewSuffix, BackupDir() + name);
    }
    for (LearnedFile f : write) {
      const std::string name = FileName(f);
      if (int err = SaveStep("rename " + name)) fail(dataDir_ + name, err);
      RenameOrThrow(dataDir_ + name + kNewSuffix, dataDir_ + name);
    }
    if (int err = SaveStep("done")) fail(record, err);
    std::error_code ec;
    fs::remove(record, ec);
    if (ec) throw IoError("Cannot remove \"" + record + "\". " + ec.message());
  } catch (const std::exception& e) {
    for (size_t i = 0; i < write.size(); ++i) committedNotFinished_.emplace_back(write[i], written[i]);
    throw SaveNotFinished(ErrorText(e));
  }
  for (size_t i = 0; i < write.size(); ++i) Remember(write[i], written[i], true);
  // The unchanged one of a pair that moved to the backup folder is still the same file, now with
  // a second name: only its stamp (the link count is not part of it) stays as it was.
}

// ---- load ------------------------------------------------------------------------------------

std::string LearningEngine::CurrentFile(const std::string& name) const {
  // Read-only loads cannot finish an interrupted save; they read what it committed instead.
  const std::string record = dataDir_ + kCommitRecord;
  if (Exists(record)) {
    const auto names = ReadCommitRecord(record).files;
    if (std::find(names.begin(), names.end(), name) != names.end() && Exists(dataDir_ + name + kNewSuffix))
      return dataDir_ + name + kNewSuffix;
  }
  return dataDir_ + name;
}

std::string LearningEngine::CurrentBackupFile(const std::string& name) const {
  const std::string record = dataDir_ + kCommitRecord;
  if (Exists(record)) {
    const auto names = ReadCommitRecord(record).backups;
    if (std::find(names.begin(), names.end(), name) != names.end() && Exists(BackupDir() + name + kNewSuffix))
      return BackupDir() + name + kNewSuffix;
  }
  return BackupDir() + name;
}

void LearningEngine::LoadData(TCompMap* shownUrls, bool readOnly) {
  if (scanDepth_ > 0)
    throw Error("I cannot load learned data while a relevance scan is running", "EInvalidOperation");
  if (!readOnly) CompleteInterruptedSave();
  if (shownUrls) LoadShownUrls(*shownUrls);
  LoadCommonWords();
  LoadWordData(readOnly);
}

void LearningEngine::LoadShownUrls(TCompMap& shownUrls) {
  State(LearnedFile::kShownUrls).loaded = false;
  shownUrlsProblem_.clear();
  const std::string path = CurrentFile(kShownUrlsFile);
  int dropped = 0;
  try {
    shownUrls.LoadFromFile(path, [&](int line, const std::string&, int64_t value, const std::string* error) {
      if (!error && value >= 0 && value <= kMaxShownTime) return true;
      if (++dropped <= kMaxLoggedLines)
        port_->Log(std::string(kShownUrlsFile) + " line " + std::to_string(line) + ": " +
                       (error ? Excerpt(*error) : std::to_string(value) + " is not a time") +
                       "; I have dropped that line",
                   false);
      return false;
    });
  } catch (const std::exception& e) {
    // Not read: kept out of every save of this run, so that it is not lost.
    shownUrlsProblem_ = ProblemText(e);
    port_->Log(ErrorText(e), false);
    return;
  }
  if (dropped > kMaxLoggedLines)
    port_->Log(std::string(kShownUrlsFile) + ": " + std::to_string(dropped) + " lines in all were dropped",
               false);
  // With lines dropped the file differs from memory and is written at the next save.
  Remember(LearnedFile::kShownUrls, dropped == 0 ? shownUrls.Version() : 0, true);
}

// One of the two stand-alone records: a damaged line costs that line, a file that cannot be read
// at all is reported and never written over in this run.
template <typename Record>
void LearningEngine::LoadRecord(LearnedFile f, Record& record) {
  State(f).loaded = false;
  const std::string name = FileName(f);
  const std::string path = CurrentFile(name);
  int logged = 0;
  int dropped = 0;
  try {
    dropped = record.LoadFromFile(path, [&](int line, const std::string& problem) {
      if (++logged <= kMaxLoggedLines)
        port_->Log(name + " line " + std::to_string(line) + ": " + problem + "; I have dropped that line", false);
    });
  } catch (const std::exception& e) {
    port_->Log(ErrorText(e), false);
    return;
  }
  if (logged > kMaxLoggedLines) port_->Log(name + ": " + std::to_string(logged) + " lines in all were dropped", false);
  // With lines dropped the file differs from memory and is written at the next save.
  Remember(f, dropped == 0 ? record.Version() : 0, true);
}

void LearningEngine::LoadRatedArticles() {
  LoadRecord(LearnedFile::kRatedArticles, ratedArticles_);
}

void LearningEngine::LoadRecentScores() {
  LoadRecord(LearnedFile::kRecentScores, recentScores_);
}

void LearningEngine::LoadWordData(bool readOnly) {
  if (scanDepth_ > 0)
    throw Error("I cannot load learned data while a relevance scan is running", "EInvalidOperation");
  if (!readOnly) CompleteInterruptedSave();
  LoadRatedArticles();
  LoadRecentScores();
  // Until this load has finished, no save may touch the pair.
  State(LearnedFile::kWordWeightings).loaded = false;
  State(LearnedFile::kRelTable).loaded = false;
  port_->ShowProgress("Loading word weightings...", 0);
  bool weightsOk = true;
  try {
    LoadWordWeightingsBounded(CurrentFile(kWordWeightsFile));
  } catch (const VocabularyTooLarge& e) {
    port_->Log(e.what(), false);
    port_->ShowMessage(std::string(e.what()) + ".\r\nI will use the last backup if there is one.");
    weightsOk = false;
  } catch (const std::exception& e) {
    // A word file that cannot be read makes the pair unusable: the recovery below takes the
    // backup pair.
    port_->Log(ErrorText(e), false);
    weightsOk = false;
  }
  // The table is n by n zeros unless a file fills it.
  const std::string dataWords = CurrentFile(kWordWeightsFile);
  const std::string dataTable = CurrentFile(kRelTableFile);
  // Which file the user is told is damaged: the table, unless the word file could not be used or
  // had lines it could not read and the table, read whole, then did not match it.
  bool wordFileDamaged = !weightsOk;
  if (weightsOk) {
    const bool wordsWhole = lastWordFileBadValues_ == 0 && lastWordFileBadLines_ == 0;
    const uint64_t wordsVersion = wordsWhole ? wordWeights_->Version() : 0;
    if (WordCount() == 0 || !Exists(dataTable)) {
      relTable_.Reset(WordCount());
      Remember(LearnedFile::kWordWeightings, wordsVersion, wordsWhole);
      Remember(LearnedFile::kRelTable, relTable_.Version(), true);
      return;
    }
    if (LoadRelTable(dataTable)) {
      Remember(LearnedFile::kWordWeightings, wordsVersion, wordsWhole);
      // A table of an old home, in the dense form, is written compact by the next save.
      Remember(LearnedFile::kRelTable, lastTableDense_ ? 0 : relTable_.Version(), true);
      return;
    }
    wordFileDamaged = !wordsWhole && !lastTableReadError_;
  } else {
    // Nothing of an unusable word file is kept.
    wordWeights_->Clear();
  }
  const std::string badLines = std::to_string(lastWordFileBadValues_ + lastWordFileBadLines_);
  const std::string wordFileError =
      "Error loading word weightings: " +
      (weightsOk ? badLines + (badLines == "1" ? " line" : " lines") + " of " + dataWords +
                       " could not be read, so the word relationship table does not match it."
                 : "I could not use " + dataWords + ".");

  const std::string backupTable = CurrentBackupFile(kRelTableFile);
  const std::string backupWeights = CurrentBackupFile(kWordWeightsFile);
  if (Exists(backupTable)) {
    port_->ShowMessage(wordFileDamaged ? wordFileError +
                                             "\r\nI will try to load the word weightings and the word "
                                             "relationship table from the last backup"
                                       : "Error loading word relationship table.\r\nI will try to load it from "
                                         "the last backup");
    bool loaded = false;
    // Without its word file the backup table has nothing to pair with: the data folder's
    // weights stay, rather than being replaced by none. They also stay when the backup pair
    // turns out unusable.
    if (Exists(backupWeights)) {
      port_->ShowProgress("Loading backup word weightings...", 0);
      auto dataWeights = std::make_unique<TShortIntMap>(*wordWeights_);
      try {
        LoadWordWeightingsBounded(backupWeights);
        loaded = LoadRelTable(backupTable);
      } catch (const std::exception& e) {
        port_->Log(ErrorText(e), false);
      }
      if (!loaded) wordWeights_ = std::move(dataWeights);
    }
    if (loaded) {
      port_->ShowMessage(wordFileDamaged
                             ? "Loading backup word weightings and word relationship table was successful"
                             : "Loading backup word relationship table was successful");
    } else {
      port_->ShowMessage(
          "Error loading backup word relationship table.\r\nWord relationships will be reset.");
      relTable_.Reset(WordCount());
    }
  } else {
    port_->ShowMessage(wordFileDamaged
                           ? wordFileError + "\r\nNo backup exists, so word relationships will be reset"
                           : "Error loading word relationship table.\r\nNo backup exists, so word "
                             "relationships will be reset");
    relTable_.Reset(WordCount());
  }
  // Recovered after telling the user: the next save writes the pair, and the damaged files of
  // the data folder do not become the backups.
  Remember(LearnedFile::kWordWeightings, 0, false);
  Remember(LearnedFile::kRelTable, 0, false);
}

}  // namespace zibu
