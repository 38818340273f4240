// duoramic-cli page360: the 360-degree viewer's page for one item, written
// into a folder exactly as the viewer writes it, to open in any browser.
#pragma once

#include <string>
#include <vector>

extern const char kPage360Usage[];

// Runs `page360` with the arguments after the command name: 0 written,
// 1 the folder or a file could not be written, 2 bad usage.
int RunPage360Command(const std::vector<std::string>& args);
