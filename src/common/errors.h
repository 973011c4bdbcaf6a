// Error types shared by every module. Handlers and scan loops catch zibu::Error (or any
// std::exception) and show ErrorText() in the status log or a message box.
#pragma once

#include <cstddef>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zibu {

class Error : public std::runtime_error {
 public:
  Error(const std::string& message, std::string kind) : std::runtime_error(message), kind_(std::move(kind)) {}
  const std::string& Kind() const { return kind_; }

 private:
  std::string kind_;
};

// A text that is not a number where one is required.
class ConversionError : public Error {
 public:
  explicit ConversionError(const std::string& message) : Error(message, "EConvertError") {}
};

// A file could not be read or written.
class IoError : public Error {
 public:
  explicit IoError(const std::string& message) : Error(message, "EInOutError") {}
};

// Start-up stopped while reading a file. The message names the file and the problem.
class LoadError : public Error {
 public:
  LoadError(const std::string& file, const std::string& problem)
      : Error("Start-up stopped while reading " + file + ": " + problem, "ELoadError"), file_(file) {}
  const std::string& File() const { return file_; }

 private:
  std::string file_;
};

// An internal consistency check failed: a programming error, never the user's.
class AssertionError : public Error {
 public:
  AssertionError(const std::string& source, int line);
  const std::string& Source() const { return source_; }
  int Line() const { return line_; }

 private:
  std::string source_;
  int line_;
};

[[noreturn]] void AssertionFailure(const char* source, int line);

// The message of an error, or the name of its kind when the message is empty.
std::string ErrorText(const std::exception& e);
// The same for telling the user what went wrong: an allocation that failed says so in words.
std::string ProblemText(const std::exception& e);

// Error texts quote what they were given (a number, an address, a server's status line); a
// hostile input must not turn into a status-log line of megabytes. Up to this many bytes are
// quoted whole; anything longer is cut.
inline constexpr size_t kExcerptLimit = 60;
// `text` itself when it is short enough, otherwise its first bytes, "..." and its full length,
// as in "123456...(10000000 bytes)".
std::string Excerpt(std::string_view text, size_t limit = kExcerptLimit);

}  // namespace zibu

// Consistency check naming the module ("common/compmap") and a fixed line number, so the
// report stays the same whatever the layout of the source file.
#define ZIBU_CHECK(cond, source, line)                   \
  do {                                                   \
    if (!(cond)) ::zibu::AssertionFailure(source, line); \
  } while (0)
