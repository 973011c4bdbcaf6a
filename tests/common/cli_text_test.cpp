// zibu-cli html2text, words and urlencode as a script sees them: bytes out, exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "literal_reference.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_ = fs::path(ZIBU_BIN_DIR) / "zibu-cli";
    if (!fs::exists(cli_)) GTEST_SKIP() << "zibu-cli is not built in " << ZIBU_BIN_DIR;
    errFile_ = fs::temp_directory_path() / ("zibu_cli_err_" + std::to_string(::getpid()));
  }
  void TearDown() override { fs::remove(errFile_); }

  // Runs zibu-cli with the given arguments (shell-quoted by the caller) and optional stdin bytes.
  Result Run(const std::string& args, const std::string* input = nullptr) {
    std::string cmd = "'" + cli_.string() + "' " + args + " 2>'" + errFile_.string() + "'";
    fs::path inFile;
    if (input) {
      inFile = errFile_.string() + ".in";
      std::ofstream(inFile, std::ios::binary) << *input;
      cmd += " <'" + inFile.string() + "'";
    }
    Result r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, got);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream e(errFile_, std::ios::binary);
    std::ostringstream es;
    es << e.rdbuf();
    r.err = es.str();
    if (input) fs::remove(inFile);
    return r;
  }

  fs::path cli_;
  fs::path errFile_;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST_F(Cli, Html2TextAgreesWithTheStepByStepProcedureOnSavedPages) {
  for (const auto& entry : fs::directory_iterator(fs::path(ZIBU_TEST_DATA_DIR) / "pages")) {
    const Result r = Run("html2text '" + entry.path().string() + "'");
    EXPECT_EQ(r.status, 0) << entry.path();
    EXPECT_TRUE(r.out == zibu::literal::HtmlToText(ReadFile(entry.path()))) << entry.path();
  }
}

TEST_F(Cli, Html2TextReadsStdinAndReportsBadReferences) {
  const std::string html = "a<b>b</b>\r\n&#38;#65;\xE9";
  Result r = Run("html2text", &html);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "ab  A\xE9");  // nothing added at the end
  const std::string bad = "ok &#12x; no";
  r = Run("html2text", &bad);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("'12x' is not a valid integer value"), std::string::npos) << r.err;
  EXPECT_EQ(Run("html2text /no/such/file").status, 1);
}

TEST_F(Cli, WordsAndUrlencode) {
  const std::string text = "   and  here's to john's apples for the monsters' party  ";
  Result r = Run("words", &text);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "HERE\nJOHN\nAPPLE\nMONSTER\nPARTY\n");
  const fs::path common = errFile_.string() + ".common";
  std::ofstream(common, std::ios::binary) << "party\r\nHere\r\n";
  r = Run("words --min 3 --max 5 --common '" + common.string() + "'", &text);
  fs::remove(common);
  EXPECT_EQ(r.out, "AND\nJOHN\nFOR\nTHE\n");
  EXPECT_EQ(Run("words --min").status, 2);

  r = Run("urlencode 'a b%c~d%20'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "a%20b%25c%7Ed%20\n");
  EXPECT_EQ(Run("urlencode").status, 2);
}

TEST_F(Cli, HelpForTheToolAndEachCommand) {
  EXPECT_NE(Run("--help").out.find("html2text"), std::string::npos);
  for (const char* c : {"html2text", "words", "urlencode"}) {
    const Result r = Run(std::string(c) + " --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(std::string("usage: zibu-cli ") + c, 0), 0u) << r.out;
  }
}
