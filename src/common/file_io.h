// Whole-file reading and the write-to-temporary-then-rename rule for files the program writes.
#pragma once

#include <cstdio>
#include <string>

namespace zibu {

// Every byte of an open stream (standard input, say). `shownName` goes into the IoError message.
std::string ReadStreamBytes(std::FILE* f, const std::string& shownName);
// Every byte of a file; IoError when it cannot be opened or read.
std::string ReadFileBytes(const std::string& fileName);
// Writes the bytes to a temporary name beside the file and renames it into place; IoError on failure.
void WriteFileAtomic(const std::string& fileName, const std::string& bytes);

}  // namespace zibu
