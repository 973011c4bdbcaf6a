#include "cli/read_input.h"

#include <cstdio>

#include "common/file_io.h"

namespace zibu::cli {

std::string ReadInput(const std::string& fileName) {
  return fileName.empty() ? ReadStreamBytes(stdin, "standard input") : ReadFileBytes(fileName);
}

}  // namespace zibu::cli
