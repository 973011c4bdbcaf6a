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

#include "common/ports.h"
#include "learning/rel_table.h"

namespace zibu {

class TShortIntMap;
class TCompMap;
class RelScanPool;
class SettingsFile;

inline constexpr int kDefaultMinWordLength = 4;
inline constexpr int kDefaultMaxWordLength = 12;
// Used when zibu.conf has no maxWordWeight key.
inline constexpr int kDefaultMaxWordWeight = 50;
// Lists of up to this many distinct words are summed on the calling thread.
inline constexpr int kSingleThreadScanLimit = 50;

inline constexpr const char* kShownUrlsFile = "shownfeedurls.dat";
inline constexpr const char* kWordWeightsFile = "wordweightings.dat";
inline constexpr const char* kRelTableFile = "reltable.dat";
inline constexpr const char* kCommonWordsFile = "commonwords.dat";

// Row ranges [first, last] of the scan threads for n words on `processors` processors:
// 4 threads per processor, never more than n / 2, each range up to n / T + 1 rows, the last ones
// possibly empty (last < first).
std::vector<std::pair<int, int>> ScanThreadRanges(int n, int processors);

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
  // Empties the word weightings and the relationship table (not the common words).
  void ClearLearnedData();

  // ---- words, learning and scoring -----------------------------------------------------------
  std::vector<std::string> GetWordList(std::string_view text) const;
  // A rating of 0 teaches nothing. While a relationship scan is running (a nested call from the
  // message processing of its wait), the rating is kept and applied when the scan has returned.
  void LearnFromRating(std::string_view text, int rating);
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

  // Scan tuning: the processor count used for the thread count (0: the machine's), and the way
  // of waiting for the workers.
  void SetProcessorCount(int n);
  // kSleepPoll also starts fresh threads for every scan, as the classic scan did.
  void SetScanWait(ScanWait wait, int pollMs = 1000) {
    scanWait_ = wait;
    pollMs_ = pollMs;
  }
  bool ScanRunning() const { return scanDepth_ > 0; }

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
  // Reads the relationship table; false (and a status line for a read error) when the file is
  // missing, damaged, or not as large as the word weightings.
  bool LoadRelTable(const std::string& path);

  // The start-up load: the shown-article memory (when given), the common words, the word
  // weightings and the relationship table, with recovery from the backup folder. Finishes a
  // save that was interrupted after its commit point first.
  // With readOnly nothing is written: an interrupted save is read as committed, not finished.
  void LoadData(TCompMap* shownUrls = nullptr, bool readOnly = false);
  // The word weightings and the relationship table alone, with the same recovery: for a caller
  // that has loaded the shown-article memory and the common words as steps of its own.
  void LoadWordData(bool readOnly = false);
  // Writes the shown-article memory (when given), the word weightings and the relationship table,
  // the previous files moving to the backup folder. A crash at any moment leaves every file
  // complete, as of this save or the previous one, and the pair loads consistently.
  void SaveData(const TCompMap* shownUrls = nullptr);
  // Completes the renames of a save whose new files were all written (see SaveData); true when
  // there was one. LoadData calls it; callers loading shownfeedurls.dat themselves call it first.
  bool CompleteInterruptedSave();
  // Flush the new files to the disk before they are committed (on by default), so that a power
  // cut cannot leave them with missing contents either.
  void SetDurableSave(bool on) { durableSave_ = on; }
  // Called with the name of each step of SaveData before it runs (tests use it to stop a save
  // at every step).
  void SetSaveStepHook(std::function<void(const std::string& step)> hook) { saveStepHook_ = std::move(hook); }

 private:
  struct PendingRating {
    std::string text;
    int rating;
  };
  void ApplyRating(std::string_view text, int rating);
  void SaveFiles(const TCompMap* shownUrls);
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
};

}  // namespace zibu
