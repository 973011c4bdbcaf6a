#include "common/errors.h"

#include <new>

namespace zibu {

AssertionError::AssertionError(const std::string& source, int line)
    : Error("Assertion failure (" + source + ", line " + std::to_string(line) + ")", "EAssertionFailed"),
      source_(source),
      line_(line) {}

void AssertionFailure(const char* source, int line) {
  throw AssertionError(source, line);
}

std::string ErrorText(const std::exception& e) {
  std::string msg = e.what();
  if (!msg.empty()) return msg;
  if (auto* z = dynamic_cast<const Error*>(&e)) return z->Kind();
  return "Exception";
}

std::string Excerpt(std::string_view text, size_t limit) {
  if (text.size() <= limit) return std::string(text);
  return std::string(text.substr(0, limit)) + "...(" + std::to_string(text.size()) + " bytes)";
}

std::string ProblemText(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e))
    return "there is not enough memory (" + std::string(e.what()) + ")";
  return ErrorText(e);
}

}  // namespace zibu
