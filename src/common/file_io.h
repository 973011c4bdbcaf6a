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
// Writes `bytes` to `path` (replacing it) with plain system calls: 0, or the errno of the failure,
// which names its cause. `created` tells whether the file could be opened at all.
int WriteFileErrno(const std::string& path, const std::string& bytes, unsigned mode = 0644, bool* created = nullptr);

}  // namespace zibu
