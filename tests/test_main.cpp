// The tests' entry point: GoogleTest with the offscreen GUI application that
// fonts need.  Test discovery runs this binary without the tests'
// environment, so the offscreen default is set here rather than in CMake.
#include <gtest/gtest.h>

#include "platform/headless_gui.h"
#include "shell/program_library.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  HeadlessGui gui(argc, argv);
  SetProgramLibraryFolder(DUORAMIC_BINARY_DIR);
  return RUN_ALL_TESTS();
}
