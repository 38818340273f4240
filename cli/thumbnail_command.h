// duoramic-cli thumbnail: the left view of a stereo still as a small PNG,
// the command file managers run through the freedesktop thumbnailer entry.
#pragma once

#include <string>
#include <vector>

extern const char kThumbnailUsage[];

// Runs `thumbnail` with the arguments after the command name: 0 written,
// 1 the input could not be read or the PNG written, 2 bad usage.
int RunThumbnailCommand(const std::vector<std::string>& args);
