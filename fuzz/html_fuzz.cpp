// libFuzzer target: HtmlToText and GetWordList over arbitrary bytes, each compared with the
// literal step-by-step procedure (the same one the differential tests use), failures included.
// The first byte picks the word lengths (minimum 0 to 7, maximum up to 15 above it); the rest is
// the text. A word list must also be read back as itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/text.h"
#include "literal_reference.h"

namespace {

// Either the result or "error: <message>", so that failures are compared too.
template <typename F>
std::string Outcome(F&& f) {
  try {
    return "ok: " + f();
  } catch (const zibu::ConversionError& e) {
    return std::string("error: ") + e.what();
  }
}

std::string Joined(const std::vector<std::string>& words) {
  return zibu::JoinStrings(words, "|");
}

void Fail(const char* what, const std::string& got, const std::string& want) {
  std::fprintf(stderr, "%s differs\n got: %s\nwant: %s\n", what, got.c_str(), want.c_str());
  std::abort();
}

const std::vector<std::string>& CommonWords() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> w = {"here", "SAID", "That", "will", "apple", "NEWS", "Storm"};
    zibu::SortUnique(w);
    return w;
  }();
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int minLength = data[0] & 7;
  const int maxLength = minLength + ((data[0] >> 3) & 15);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::string got = Outcome([&] { return zibu::HtmlToText(text); });
  const std::string want = Outcome([&] { return zibu::literal::HtmlToText(text); });
  if (got != want) Fail("HtmlToText", got, want);

  const auto& common = CommonWords();
  std::vector<std::string> words;
  const std::string gotWords = Outcome([&] {
    words = zibu::GetWordList(text, minLength, maxLength, common);
    return Joined(words);
  });
  const std::string wantWords =
      Outcome([&] { return Joined(zibu::literal::GetWordList(text, minLength, maxLength, common)); });
  if (gotWords != wantWords) Fail("GetWordList", gotWords, wantWords);

  // Plain upper-case words of the right lengths are words again, and a folded plural never ends
  // in a single "S", so the list read back is the list.
  const auto again = zibu::GetWordList(zibu::JoinStrings(words, " "), minLength, maxLength, common);
  if (again != words) Fail("GetWordList read back", Joined(again), Joined(words));
  return 0;
}
