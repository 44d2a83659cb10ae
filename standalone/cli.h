// The subcommands of `vexorant`. Each returns the process exit code: 0 success, 1 failure,
// 2 a usage error.
#pragma once
#include <string>
#include <vector>

namespace vexo_host {

using Args = std::vector<std::string>;

int RunInfo(const Args& args);
int RunDemo(const Args& args);
int RunRender(const Args& args);

// Shared by the subcommands: prints "vexorant: <text>" on standard error and returns `code`.
int Complain(int code, const std::string& text);

}  // namespace vexo_host
