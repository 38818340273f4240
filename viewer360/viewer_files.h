// Writing the 360-degree viewer's page, its script and three.js (all three
// carried inside the program) into a folder, and the private folder the
// viewer uses for them.
#pragma once

#include <string>

// Writes "theta.html" (the page filled for `path`), "thview3dkv.js" and
// "three.min.js" into `folder` (which ends in "/" or not), replacing what
// was there.  0 when all three were written; -1 when one could not be (the
// viewer goes on regardless: the page shows what the browser makes of it).
int WriteViewerFiles(const std::string& folder, const std::string& path,
                     int n360mode, int swap);

// The folder the viewer writes its page into, ending in "/": a folder of
// our own, mode 0700, under the user's runtime folder (or the cache folder
// in the home folder where there is none).  Empty when no such folder can be made.
std::string ViewerFolder();

// The page file's name in a folder written by WriteViewerFiles.
constexpr const char kViewerPageName[] = "theta.html";
