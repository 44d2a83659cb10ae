// Runs a command line the way a user would, for tests of the command-line tools.
#pragma once
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

struct ShellResult {
    int status;          // exit code, or -1 when the command did not exit normally
    std::string output;  // standard output and standard error together
};

inline ShellResult Shell(const std::string& command) {
    ShellResult run{-1, {}};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buf;
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe))
        run.output.append(buf.data(), n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
