// duoramic-cli comment: prints, sets or clears the comment of a JPEG file,
// as the viewer's comment dialog writes it.
#pragma once

#include <string>
#include <vector>

extern const char kCommentUsage[];

// Runs `comment` with the arguments after the command name: 0 done, 1 the
// file could not be read or written (message on stderr), 2 bad usage.
int RunCommentCommand(const std::vector<std::string>& args);
