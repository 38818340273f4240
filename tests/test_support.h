#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The conformance files: $DUORAMIC_TESTDATA, else ../shared/testdata.
std::string TestDataDir();
// A conformance file: from the corpus, else from the part of it bundled in
// tests/data; the corpus path when neither holds it.
std::string TestDataPath(const std::string& relative);
bool HaveTestFile(const std::string& relative);

// Skips the running test, saying why, when one of the files is in neither
// the corpus nor tests/data (a plain clone without the corpus beside it).
#define REQUIRE_TEST_FILES(...)                                        \
  for (const char* required_ : {__VA_ARGS__})                          \
    if (!HaveTestFile(required_))                                      \
  GTEST_SKIP() << required_ << " is not bundled and the corpus is not at " \
               << TestDataDir() << " (set DUORAMIC_TESTDATA)"

// A scratch folder private to this test process, created on first use.
std::string ScratchDir();

std::vector<uint8_t> ReadTestFile(const std::string& path);
void WriteTestFile(const std::string& path, const std::vector<uint8_t>& bytes);
