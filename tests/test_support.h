#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The conformance files: $DUORAMIC_TESTDATA, else ../shared/testdata.
std::string TestDataDir();
std::string TestDataPath(const std::string& relative);

// A scratch folder private to this test process, created on first use.
std::string ScratchDir();

std::vector<uint8_t> ReadTestFile(const std::string& path);
void WriteTestFile(const std::string& path, const std::vector<uint8_t>& bytes);
