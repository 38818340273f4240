// duoramic-cli render: one item drawn exactly as the viewer window's client
// area shows it in a chosen stereo format, written as a PNG.
#pragma once

#include <string>
#include <vector>

// The usage lines of the command, for the tool's help text.
extern const char kRenderUsage[];

// Runs `render` with the arguments that follow the command name and returns
// the exit status: 0 done, 1 a file failed (reason on stderr), 2 bad usage.
int RunRenderCommand(const std::vector<std::string>& args);
