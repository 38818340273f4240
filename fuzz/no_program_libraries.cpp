// The fuzz targets link no Qt: the read-ahead code they drive finds no
// library to open, as an installation without the alignment library would.
#include "shell/program_library.h"

void SetProgramLibraryFolder(const std::string&) {}

ProgramLibraryFunction ResolveProgramLibrary(const std::string& name,
                                             const char*, const std::string&,
                                             std::string* error) {
  if (error) *error = name + ": libraries are not opened in fuzz builds";
  return nullptr;
}
