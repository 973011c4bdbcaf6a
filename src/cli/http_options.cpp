#include "cli/http_options.h"

#include "common/numbers.h"

namespace zibu::cli {

const char* const kHttpOptionsHelp =
    "  --proxy HOST:PORT       go through this HTTP proxy (default: direct)\n"
    "  --proxy-user U          proxy user name\n"
    "  --proxy-password P      proxy password\n"
    "  --connect-timeout MS    connect time-out in milliseconds (default 60000)\n"
    "  --read-timeout MS       longest wait for data in milliseconds (default 60000)\n"
    "  --total-timeout MS      longest the whole download may take (default: connect plus read)\n"
    "  --ca-file FILE          trust the authorities of this PEM file besides the store\n"
    "                          (SSL_CERT_FILE and SSL_CERT_DIR, else the system's)\n";

OptionResult TakeHttpOption(const std::vector<std::string>& args, size_t& i, HttpOptions& options,
                            std::string& problem) {
  std::string arg = args[i];
  std::string value;
  bool inlineValue = false;
  if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
    value = arg.substr(arg.find('=') + 1);
    arg = arg.substr(0, arg.find('='));
    inlineValue = true;
  }
  if (arg != "--proxy" && arg != "--proxy-user" && arg != "--proxy-password" && arg != "--connect-timeout" &&
      arg != "--read-timeout" && arg != "--total-timeout" && arg != "--ca-file")
    return OptionResult::NotMine;
  if (!inlineValue) {
    if (i + 1 >= args.size()) {
      problem = arg + " needs a value";
      return OptionResult::Error;
    }
    value = args[++i];
  }
  if (arg == "--proxy") {
    const size_t colon = value.rfind(':');
    auto port = colon == std::string::npos ? std::nullopt : TryStrToInt(value.substr(colon + 1));
    if (colon == std::string::npos || colon == 0 || !port) {
      problem = "--proxy needs HOST:PORT, not '" + value + "'";
      return OptionResult::Error;
    }
    options.proxy.server = value.substr(0, colon);
    options.proxy.port = *port;
  } else if (arg == "--proxy-user") {
    options.proxy.username = value;
  } else if (arg == "--proxy-password") {
    options.proxy.password = value;
  } else if (arg == "--ca-file") {
    options.extraCaFile = value;
  } else {
    auto ms = TryStrToInt(value);
    if (!ms || *ms < 0) {
      problem = arg + " needs milliseconds, not '" + value + "'";
      return OptionResult::Error;
    }
    (arg == "--connect-timeout" ? options.connectTimeoutMs
     : arg == "--read-timeout"  ? options.readTimeoutMs
                                : options.totalTimeoutMs) = *ms;
  }
  return OptionResult::Taken;
}

std::string ParseDownloadCommandLine(const std::vector<std::string>& args, HttpOptions& options,
                                     std::string& operand, const std::string& what) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string problem;
    switch (TakeHttpOption(args, i, options, problem)) {
      case OptionResult::Taken:
        continue;
      case OptionResult::Error:
        return problem;
      case OptionResult::NotMine:
        break;
    }
    if (args[i].rfind("--", 0) == 0) return "unknown option '" + args[i] + "'";
    if (!operand.empty()) return "only one " + what + ", please";
    operand = args[i];
  }
  if (operand.empty()) return "no " + what + " given";
  return "";
}

}  // namespace zibu::cli
