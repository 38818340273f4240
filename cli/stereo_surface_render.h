#pragma once

#include <string>

// Format 22 from the command line: presents the current pair as the
// shutter-glasses output fills its stereo surface for eyes of eyeWidth x
// eyeHeight, and writes that surface (2 x eyeWidth by eyeHeight + 1, the
// signature row included) as an RGBA PNG.  Returns the exit status.
int RenderStereoSurface(int eyeWidth, int eyeHeight, const std::string& file,
                        const std::string& out);
