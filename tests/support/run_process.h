// Runs a program (zibu-cli, a helper) as a child and collects its exit status and both outputs
// as bytes, for tests of command-line behaviour.
#pragma once

#include <string>
#include <vector>

namespace zibu::test {

struct ProcessResult {
  int exitStatus = -1;  // the exit code, or 128 + signal number when killed by a signal
  std::string out;      // stdout bytes
  std::string err;      // stderr bytes
};

// Runs `program` with `args` (no shell), feeding `input` on stdin. Kills it after `timeoutMs`
// (then exitStatus is 128 + SIGKILL).
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = "", int timeoutMs = 30000);

// ZIBU_BIN_DIR "/zibu-cli", or "" when the test was built without that macro.
std::string ZibuCliPath(const std::string& binDir);

}  // namespace zibu::test
