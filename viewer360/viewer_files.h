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

// What the page is given for `path`: the path itself, or for a spatial
// HEIF photo or a VR photo (which no browser shows as two eyes) a
// side-by-side JPEG of its views written into `folder`; a VR photo with a
// panorama crop gets whole-sphere canvases with the views where the crop
// puts them and black elsewhere.  The path itself when that fails.
std::string PanoramaPictureFor(const std::string& folder,
                               const std::string& path);

// The page file's name in a folder written by WriteViewerFiles.
constexpr const char kViewerPageName[] = "theta.html";
