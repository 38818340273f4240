#include "tests/test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

std::string TestDataDir() {
  if (const char* env = std::getenv("DUORAMIC_TESTDATA"); env && *env)
    return env;
  return DUORAMIC_TESTDATA_DEFAULT;
}

std::string TestDataPath(const std::string& relative) {
  std::string corpus = TestDataDir() + "/" + relative;
  if (std::filesystem::exists(corpus)) return corpus;
  std::string bundled = std::string(DUORAMIC_SOURCE_DIR) + "/tests/data/" + relative;
  return std::filesystem::exists(bundled) ? bundled : corpus;
}

bool HaveTestFile(const std::string& relative) {
  return std::filesystem::exists(TestDataPath(relative));
}

std::string ScratchDir() {
  static std::string dir = [] {
    auto path = std::filesystem::temp_directory_path() /
                ("duoramic-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return dir;
}

std::vector<uint8_t> ReadTestFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteTestFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}
