// duoramic-cli list: a slideshow list's settings and entries as the viewer
// reads them.
#pragma once

#include <string>
#include <vector>

extern const char kListUsage[];

// Runs `list` with the arguments that follow the command name and returns
// the exit status: 0 done, 1 the list cannot be opened (message on stderr),
// 2 bad usage.
int RunListCommand(const std::vector<std::string>& args);
