// The relevance-learning engine: word weightings, the word relationship table, scoring, and the
// learned-data files with their backups. One object, owned by the feeds window; the spider, the
// tests and zibu-cli use it directly. Everything runs on the calling (user-interface) thread except
// the workers of the relationship scan, which only read.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "common/ports.h"
#include "learning/explanation.h"
#include "learning/rated_articles.h"
#include "learning/recent_scores.h"
#include "learning/rel_table.h"

namespace zibu {

class TShortIntMap;
class TCompMap;
class RelScanPool;
class PairCollector;
class SettingsFile;

inline constexpr int kDefaultMinWordLength = 4;
inline constexpr int kDefaultMaxWordLength = 12;
// Used when zibu.conf has no maxWordWeight key.
inline constexpr int kDefaultMaxWordWeight = 50;
// Lists of up to this many distinct words are summed on the calling thread.
inline constexpr int kSingleThreadScanLimit = 50;
// The most words the engine keeps: the dense form of reltable.dat holds every cell of the square,
// so 200,000 words make a 40 GB file there; a word file with more is refused before anything is
// allocated, and ratings add no word beyond it.
inline constexpr int kMaxWordCount = 200000;
// The shown-article memory keeps times from 1970 to 10^15 ms (the year 33658), which its file
// writes and reads back exactly; any other value is not a time and its line is dropped.
inline constexpr int64_t kMaxShownTime = 999999999999999;

inline constexpr const char* kShownUrlsFile = "shownfeedurls.dat";
inline constexpr const char* kWordWeightsFile = "wordweightings.dat";
inline constexpr const char* kRelTableFile = "reltable.dat";
inline constexpr const char* kCommonWordsFile = "commonwords.dat";

// A save of learned data that reached its commit point but could not put every file in place
// (a rename refused, say): the new files are written in full and named in the commit record, so
// the next load (or the next save) finishes it. Unlike every other failed save, the files of the
// last save are no longer simply "as they were".
class SaveNotFinished : public IoError {
 public:
  explicit SaveNotFinished(const std::string& message) : IoError(message) {}
};

// Row ranges [first, last] of the scan threads for n words on `processors` processors:
// 4 threads per processor, never more than n / 2, each range up to n / T + 1 rows, the last ones
// possibly empty (last < first).
std::vector<std::pair<int, int>> ScanThreadRanges(int n, int processors);

// The files a save may write. A save writes, moves to the backup folder or deletes only a file
// that this run has loaded (or replaced by recovery after telling the user); the word file and
// the table only together.
// A learned word and its weight, as the "Learned words" window lists it.
struct LearnedWord {
  std::string word;
  int weight = 0;
  // The words it has a relationship with: the evidence behind the weight. After thousands of
  // ratings many words stand at the weight limit, and this tells the seasoned ones from the lucky.
  int relationships = 0;
};
enum class LearnedWordOrder { kByWord, kByWeightDescending, kByWeightAscending };
// Sorts a list of learned words (by word without regard to letter case; by weight, equal weights
// by the most relationships first, then by word).
void SortLearnedWords(std::vector<LearnedWord>& words, LearnedWordOrder order);
// The words that contain `search` (letter case ignored), in the list's order; all for "".
std::vector<LearnedWord> FilterLearnedWords(const std::vector<LearnedWord>& words, std::string_view search);

enum class LearnedFile { kShownUrls = 0, kWordWeightings = 1, kRelTable = 2, kRatedArticles = 3, kRecentScores = 4 };
inline constexpr int kLearnedFileCount = 5;

// How the waiting thread of a multi-threaded scan learns that the workers are done.
enum class ScanWait {
  kNotified,   // short timed waits on a wake-up from the last worker, with paced message processing
  kSleepPoll,  // sleep a whole poll interval between looks (the slow classic way, for comparison)
};

class LearningEngine {
 public:
  explicit LearningEngine(UserPort& port);
  ~LearningEngine();
  LearningEngine(const LearningEngine&) = delete;
  LearningEngine& operator=(const LearningEngine&) = delete;

  UserPort& Port() { return *port_; }
  void SetPort(UserPort& port) { port_ = &port; }

  // ---- learning parameters -------------------------------------------------------------------
  int minWordLength() const { return minWordLength_; }
  int maxWordLength() const { return maxWordLength_; }
  int maxWordWeight() const { return maxWordWeight_; }
  void SetMinWordLength(int n) { minWordLength_ = n; }
  void SetMaxWordLength(int n) { maxWordLength_ = n; }
  // Values outside 1 to 127 are brought into that range, with a status line saying so.
  void SetMaxWordWeight(int n);
  // minWordLength, maxWordLength and maxWordWeight of section "main" (missing maxWordWeight: 50).
  void ReadLearningParameters(const SettingsFile& file);

  // ---- learned data --------------------------------------------------------------------------
  TShortIntMap& WordWeights() { return *wordWeights_; }
  const TShortIntMap& WordWeights() const { return *wordWeights_; }
  T2DRelTypeArray& RelTable() { return relTable_; }
  const T2DRelTypeArray& RelTable() const { return relTable_; }
  // Kept sorted without regard to letter case, one copy of each word.
  std::vector<std::string>& CommonWords() { return commonWords_; }
  const std::vector<std::string>& CommonWords() const { return commonWords_; }
  int WordCount() const;
  // Empties the word weightings, the relationship table, the record of rated articles and the
  // recent scores (not the common words).
  void ClearLearnedData();
  // How each rated article scored just before its rating was learned, the most recent last.
  // Every rating learned adds to it, whichever window or command gave it.
  const TRatedArticles& RatedArticles() const { return ratedArticles_; }
  ThresholdSuggestion SuggestedThreshold() const { return SuggestThreshold(ratedArticles_.Entries()); }
  // The relevances the triage and the spider gave the texts they scored lately; whoever scores
  // an article or page for the user adds to it (scoring alone does not, so that "Check Rel",
  // "Why?" and the rating record leave it alone).
  TRecentScores& RecentScores() { return recentScores_; }
  const TRecentScores& RecentScores() const { return recentScores_; }

  // ---- words, learning and scoring -----------------------------------------------------------
  std::vector<std::string> GetWordList(std::string_view text) const;
  // A rating of 0 teaches nothing. Otherwise the text's relevance as it stands is first added to
  // the record of rated articles (see RatedArticles). While a relationship scan is running (a nested call from the
  // message processing of its wait), the rating is kept and applied when the scan has returned.
  // `recorded` false: a correction of a rating already recorded (the reading list's changed
  // rating teaches only the change), which the record of rated articles must not count again.
  void LearnFromRating(std::string_view text, int rating, bool recorded = true);
  void LearnFromRating(int rating, std::string_view text) { LearnFromRating(text, rating); }
  // Sorts `words` and removes repeats; called by LearnFromRating with a rating that is not 0.
  void UpdateRelTable(std::vector<std::string>& words, int rating);

  // Overall relevance, -100 to 100.
  int GetRelevance(std::string_view text);
  int GetSimpleRelevance(const std::vector<std::string>& words);
  // Sorts the given list and removes repeats from it.
  int GetRelationshipRelevance(std::vector<std::string>& words);
  int GetRelationshipRelevance(const std::vector<std::string>& words);

  // The relationship sum S of a sorted list of distinct words.
  int64_t ScanRelTableSingleThread(const std::vector<std::string>& words);
  int64_t ScanRelTableMultiThread(const std::vector<std::string>& words);

  // The three scores of a text and their parts (see explanation.h), with at most `pairLimit`
  // pairs of each sign. Writes no status line; long texts are scanned on the workers as scoring
  // does, the message processing running meanwhile.
  RelevanceExplanation ExplainRelevance(std::string_view text, int pairLimit = 10);

  // Scan tuning: the processor count used for the thread count (0: the machine's), and the way
  // of waiting for the workers.
  void SetProcessorCount(int n);
  // kSleepPoll also starts fresh threads for every scan, as the classic scan did.
  void SetScanWait(ScanWait wait, int pollMs = 1000) {
    scanWait_ = wait;
    pollMs_ = pollMs;
  }
  bool ScanRunning() const { return scanDepth_ > 0; }

  // ---- seeing and correcting what was learned ------------------------------------------------
  // Every learned word with its weight, in position order: a copy for a window to sort and
  // search at leisure (a few milliseconds for 20,000 words).
  std::vector<LearnedWord> LearnedWords() const;
  // The word's relationships with the largest values either way (strongest first, ties by
  // position), at most `limit`; none for a word not learned.
  std::vector<std::pair<std::string, int>> StrongestRelationships(std::string_view word, int limit) const;
  // Sets a learned word's weight, limited to +-maxWordWeight; false when the word is not learned.
  bool SetWordWeight(std::string_view word, int weight);
  // Forgets a learned word: it leaves the word weightings, and its row and column leave the
  // relationship table; every other word keeps its weight and every other pair its value (later
  // words move down one position). False when the word is not learned. Saved with the learned
  // data at the next save, as a rating is.
  bool ForgetWord(std::string_view word);
  // Adds a word to the common words and writes commonwords.dat of the data folder at once; the
  // word is then forgotten too. False when it was a common word already. Raises IoError when the
  // file cannot be written, and Error when the common words were never loaded (nothing is
  // written over a file that was not read).
  bool AddCommonWord(std::string_view word);

  // ---- learned-data files --------------------------------------------------------------------
  // The data folder (its "backup" subfolder holds the backups). Both are created when missing,
  // unless `create` is false (read-only use).
  void SetDataFolder(const std::string& dataDir, bool create = true);
  const std::string& DataDir() const { return dataDir_; }  // with a trailing "/"
  std::string BackupDir() const { return dataDir_ + "backup/"; }
  void SetBackupDataFiles(bool on) { backupDataFiles_ = on; }
  bool BackupDataFiles() const { return backupDataFiles_; }

  // commonwords.dat of the data folder (or `path`): one word per line; a missing file gives an
  // empty list.
  void LoadCommonWords();
  void LoadCommonWords(const std::string& path);
  // Replaces the word weightings with the file's (a missing file gives none) and limits every
  // weight to +-maxWordWeight.
  void LoadWordWeightings(const std::string& path);
  // Reads the relationship table, in either form of reltable.dat; false (and a status line for a
  // read error) when the file is missing, damaged, or not as large as the word weightings.
  bool LoadRelTable(const std::string& path);

  // The start-up load: the shown-article memory (when given), the common words, the word
  // weightings and the relationship table, with recovery from the backup folder. Finishes a
  // save that was interrupted after its commit point first.
  // With readOnly nothing is written: an interrupted save is read as committed, not finished.
  void LoadData(TCompMap* shownUrls = nullptr, bool readOnly = false);
  // shownfeedurls.dat into `shownUrls`: a line whose value is not a time (0 to kMaxShownTime)
  // is dropped with a status line, every other line kept. For a caller that loads the memory as
  // a step of its own (after CompleteInterruptedSave). A file that cannot be read at all is
  // reported and is then never written over in this run.
  void LoadShownUrls(TCompMap& shownUrls);
  // The record of rated articles, then the word weightings and the relationship table with the
  // same recovery: for a caller that has loaded the shown-article memory and the common words as
  // steps of its own.
  void LoadWordData(bool readOnly = false);
  // ratedarticles.dat alone (LoadWordData runs it): a damaged line is dropped with a status
  // line, every other kept; a file that cannot be read at all is reported and is then never
  // written over in this run.
  void LoadRatedArticles();
  // recentscores.dat alone, by the same rules (LoadWordData runs it).
  void LoadRecentScores();
  // Writes the shown-article memory (when given), the record of rated articles, the recent
  // scores, the word
  // weightings and the relationship table, the previous files moving to the backup folder. A crash at any moment leaves every
  // file complete, as of this save or the previous one, and the pair loads consistently.
  // Only what changed is written: a file whose content is the same as when this run last read
  // or wrote it (and which is still there as it was then) is left alone with its backup. When
  // one of the pair changed, both move to the backup folder (the unchanged one as a second
  // name, no bytes written), so that the backups stay a pair. A file this run has not loaded is
  // never touched (see DataLoaded); a data file found damaged at load is not made the backup.
  void SaveData(const TCompMap* shownUrls = nullptr);
  // Whether the file was loaded in this run (or replaced by recovery after the user was told),
  // so that a save may write it. False before any load, and for the pair when LoadWordData did
  // not finish (an error escaped it).
  bool DataLoaded(LearnedFile file) const { return files_[static_cast<int>(file)].loaded; }
  // Why the last load of shownfeedurls.dat could not read it at all; empty when it could.
  const std::string& ShownUrlsLoadProblem() const { return shownUrlsProblem_; }
  // Completes the renames of a save whose new files were all written (see SaveData); true when
  // there was one. LoadData calls it; callers loading shownfeedurls.dat themselves call it first.
  bool CompleteInterruptedSave();
  // Flush the new files to the disk before they are committed (on by default), so that a power
  // cut cannot leave them with missing contents either.
  void SetDurableSave(bool on) { durableSave_ = on; }
  // Called with the name of each file operation of SaveData before it runs ("write <name>",
  // "sync <name>", "link backup <name>", "write save.commit", "sync save.commit", "commit",
  // "backup <name>", "rename <name>", "done"); tests use it to stop a save at every step.
  void SetSaveStepHook(std::function<void(const std::string& step)> hook) { saveStepHook_ = std::move(hook); }
  // The fault-injection seam of the same operations: a non-zero result is an errno with which
  // that operation fails, as the system would have failed it (a full disk at every step).
  void SetSaveFaultHook(std::function<int(const std::string& step)> hook) { saveFaultHook_ = std::move(hook); }
  // A copy of everything a save writes and of what is known of the files, to be saved with
  // SaveData on another thread while this engine goes on learning and scoring; it reports to
  // `port`. Afterwards AdoptSaveState tells this engine what the copy wrote, so that the next save
  // writes what changed since the copy was taken.
  std::unique_ptr<LearningEngine> SaveSnapshot(UserPort& port) const;
  void AdoptSaveState(const LearningEngine& saved);

 private:
  struct PendingRating {
    std::string text;
    int rating;
    bool recorded;
  };
  // What the engine knows of one file of the data folder.
  struct FileState {
    bool loaded = false;   // a save may write it
    bool good = false;     // the data folder's copy loaded whole: it may become the backup
    uint64_t version = 0;  // the content's stamp when last read or written (0: differs)
    std::string stamp;     // the file's size, time and inode then ("" for no file)
    bool operator==(const FileState&) const = default;
  };
  FileState& State(LearnedFile f) { return files_[static_cast<int>(f)]; }
  uint64_t ContentVersion(LearnedFile f, const TCompMap* shownUrls) const;
  // The data file's stamp, "" when there is none.
  std::string StampOf(const std::string& name) const;
  void Remember(LearnedFile f, uint64_t version, bool good);
  bool Unchanged(LearnedFile f, const TCompMap* shownUrls) const;
  // The word file, refused before anything is read when it holds more than kMaxWordCount words.
  void LoadWordWeightingsBounded(const std::string& path);
  template <typename Record>
  void LoadRecord(LearnedFile f, Record& record);
  void ApplyRating(std::string_view text, int rating, bool recorded);
  void Verbose(const std::string& line);
  // The multi-threaded sum; with `pairs`, each worker also keeps its range's strongest pairs
  // there (one collector per worker, of `pairLimit` each).
  int64_t MultiThreadSum(const std::vector<std::string>& words, std::vector<PairCollector>* pairs,
                         int pairLimit);
  void SaveFiles(const TCompMap* shownUrls);
  // The renames of a committed save, then the removal of what an uncommitted one left; true when
  // there was a committed one.
  bool FinishCommittedSave();
  // The step hook, then the fault hook: the errno the operation is to fail with, or 0.
  int SaveStep(const std::string& step) const;
  // The backup copy a load reads for `name` (a committed but unfinished save's, read-only).
  std::string CurrentBackupFile(const std::string& name) const;
  void EndScan();
  int Clamp(int v) const;
  // The file of the data folder a load should read for `name`.
  std::string CurrentFile(const std::string& name) const;
  // Positions of the words in WordWeights (-1 for unknown ones).
  std::vector<int> WordPositions(const std::vector<std::string>& words) const;
  // The same for a scan, with words the table does not cover counted as unknown.
  std::vector<int> ScanPositions(const std::vector<std::string>& words);

  UserPort* port_;
  int minWordLength_ = kDefaultMinWordLength;
  int maxWordLength_ = kDefaultMaxWordLength;
  int maxWordWeight_ = kDefaultMaxWordWeight;
  std::unique_ptr<TShortIntMap> wordWeights_;
  T2DRelTypeArray relTable_;
  std::vector<std::string> commonWords_;

  int processorCount_ = 0;
  ScanWait scanWait_ = ScanWait::kNotified;
  int pollMs_ = 1000;
  int scanDepth_ = 0;
  std::deque<PendingRating> pending_;
  std::unique_ptr<RelScanPool> pool_;

  std::string dataDir_;
  bool backupDataFiles_ = true;
  bool durableSave_ = true;
  std::function<void(const std::string&)> saveStepHook_;
  std::function<int(const std::string&)> saveFaultHook_;
  FileState files_[kLearnedFileCount];
  // What a save that reached its commit point but did not put everything in place wrote: once the
  // next save has finished it, these are what the files hold.
  std::vector<std::pair<LearnedFile, uint64_t>> committedNotFinished_;
  FileState takenFrom_[kLearnedFileCount];  // of a save snapshot: its original's files when it was taken
  TRatedArticles ratedArticles_;
  TRecentScores recentScores_;
  // Scoring for the record writes no status line.
  bool quiet_ = false;
  std::string shownUrlsProblem_;
  bool commonWordsLoaded_ = false;
  bool toldWordLimit_ = false;
  int lastWordFileBadValues_ = 0;  // of the last LoadWordWeightings
  bool lastTableDense_ = false;    // the last LoadRelTable read the dense form
  int lastWordFileBadLines_ = 0;   // of the last LoadWordWeightings: lines without "="
  bool lastTableReadError_ = false;  // the last LoadRelTable failed reading, not on the size
};

}  // namespace zibu
