// duoramic-cli align: measures how the right view of a pair is misaligned
// against the left one and writes the corrected pair.
#pragma once

#include <string>
#include <vector>

extern const char kAlignUsage[];

// Exit status when the pair cannot be measured (too flat, too different):
// nothing is written.
constexpr int kAlignNotMeasured = 3;

// Runs `align` with the arguments after the command name: 0 measured (and
// written), 1 a file failed, 2 bad usage, kAlignNotMeasured.
int RunAlignCommand(const std::vector<std::string>& args);
