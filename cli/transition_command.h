// duoramic-cli transition: one step of a transition effect between two
// items, drawn as the viewer window's client area shows it, written as PNG.
#pragma once

#include <string>
#include <vector>

extern const char kTransitionUsage[];

// Runs `transition` with the arguments that follow the command name and
// returns the exit status: 0 done, 1 a file failed (reason on stderr),
// 2 bad usage.
int RunTransitionCommand(const std::vector<std::string>& args);
