#include "common/errors.h"

namespace zibu {

AssertionError::AssertionError(const std::string& source, int line)
    : Error("Assertion failure (" + source + ", line " + std::to_string(line) + ")", "EAssertionFailed"),
      source_(source),
      line_(line) {}

void AssertionFailure(const char* source, int line) { throw AssertionError(source, line); }

std::string ErrorText(const std::exception& e) {
  std::string msg = e.what();
  if (!msg.empty()) return msg;
  if (auto* z = dynamic_cast<const Error*>(&e)) return z->Kind();
  return "Exception";
}

}  // namespace zibu
