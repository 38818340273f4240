// Writing a pair of views as a stereo file, chosen by the output's ending:
// .mpo (two pictures with an MP index), .jps (side-by-side JPEG, the right
// view first as its descriptor says) or .pns (side-by-side PNG, the left
// view in the left half as the readers here take them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/picture.h"

// True when the path ends in .mpo, .jps or .pns (any case).
bool IsStereoOutputName(const std::string& path);

// Whether `path` names one of `inputs` (the same file under any name, a
// link to it).  Writing there would destroy the user's original.
bool IsOneOfInputs(const std::string& path,
                   const std::vector<std::string>& inputs);
// The reason every verb gives when refusing such an output.
extern const char kInputNotOverwritten[];

// Writes the pair; the file appears whole or not at all (written beside and
// renamed).  Refuses, with the reason, a path that names one of `inputs`.
// MPO and JPS outputs carry `sourceExif` (the camera's, TIFF bytes) with
// the size tags set to theirs, when given.
bool WriteStereoFile(const Picture& left, const Picture& right,
                     const std::string& path,
                     const std::vector<std::string>& inputs,
                     std::string& error,
                     const std::vector<uint8_t>& sourceExif = {});
