// The parts of the viewer that pull in large libraries (the web engine of
// the 360 viewer, OpenCV for the automatic alignment) live in libraries of
// their own, opened the first time they are used: linked into the program,
// the dynamic loader would resolve their symbols on every start, before
// the first picture.
#pragma once

#include <string>

using ProgramLibraryFunction = void (*)();

// Where such libraries are looked for before the usual places (the
// program's folder, then the installed library folder); tests point it at
// the build folder.  Empty: the usual places only.
void SetProgramLibraryFolder(const std::string& folder);

// The function `symbol` of the library file `name`, or of `path` when that
// is not empty; null, with the reason in `error`, when no candidate loads.
// A library once loaded stays loaded.  Safe from any thread.
ProgramLibraryFunction ResolveProgramLibrary(const std::string& name,
                                             const char* symbol,
                                             const std::string& path,
                                             std::string* error);
