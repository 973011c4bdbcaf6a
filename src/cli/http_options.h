// The request options shared by the zibu-cli commands that download.
#pragma once

#include <string>
#include <vector>

#include "http/http_client.h"

namespace zibu::cli {

// Help lines for the options below, ready to append to a command's help text.
extern const char* const kHttpOptionsHelp;

// Result of offering args[i] to the download options.
enum class OptionResult { NotMine, Taken, Error };

// Consumes args[i] (and its value, advancing i) when it is one of --proxy, --proxy-user,
// --proxy-password, --connect-timeout, --read-timeout, --total-timeout, in "--opt value" or "--opt=value" form.
// On Error, `problem` says what is wrong.
OptionResult TakeHttpOption(const std::vector<std::string>& args, size_t& i, HttpOptions& options,
                            std::string& problem);

// The whole command line of a command taking the options above and exactly one operand
// (`what` names it in messages: "URL", "file or address"). Returns the problem, empty when fine.
std::string ParseDownloadCommandLine(const std::vector<std::string>& args, HttpOptions& options,
                                     std::string& operand, const std::string& what);

}  // namespace zibu::cli
