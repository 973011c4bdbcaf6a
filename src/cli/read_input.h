// Input helper of the subcommands that read a text.
#pragma once

#include <string>

namespace zibu::cli {

// The bytes of the file, or of standard input when `fileName` is empty. Raises IoError.
std::string ReadInput(const std::string& fileName);

}  // namespace zibu::cli
