#pragma once
// Runs a command line through the shell and captures its stdout, stderr and exit status.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvex::testing {

struct CommandResult {
  int status = -1;
  std::string out, err;
  /// The last non-empty line of stdout.
  std::string LastLine() const {
    std::string line, last;
    std::istringstream in(out);
    while (std::getline(in, line))
      if (!line.empty()) last = line;
    return last;
  }
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline CommandResult RunCommand(const std::string& command) {
  const std::string base = "/tmp/quorvex_cmd_" + std::to_string(::getpid());
  const std::string full = command + " >" + base + ".out 2>" + base + ".err </dev/null";
  CommandResult r;
  const int raw = std::system(full.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = Slurp(base + ".out");
  r.err = Slurp(base + ".err");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return r;
}

}  // namespace quorvex::testing
