#pragma once

#include <string>

// Where the viewer's own files are (the help page, the demo list and its
// pictures), found from the executable's folder so that both trees work:
// beside the executable in a build tree, PREFIX/share/duoramic beside
// PREFIX/bin when installed.  The executable's folder when neither holds
// the help page.
std::string DataFolder(const std::string& executableFolder);
