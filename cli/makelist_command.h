// duoramic-cli makelist: appends files to a slideshow list as the viewer's
// list maker does, for scripts.
#pragma once

#include <string>
#include <vector>

extern const char kMakeListUsage[];

// Runs `makelist` with the arguments after the command name: 0 every file
// was added, 1 nothing could be written or some files were left out
// (messages on stderr), 2 bad usage.
int RunMakeListCommand(const std::vector<std::string>& args);
