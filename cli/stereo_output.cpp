#include "cli/stereo_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/png_write.h"
#include "image/ascii_case.h"
#include "image/stereo_writer.h"

namespace {

// The bytes into a new file beside `path`, renamed over it when complete.
bool WriteBytes(const std::vector<uint8_t>& bytes, const std::string& path,
                std::string& error) {
  static std::atomic<unsigned> counter{0};
  size_t slash = path.rfind('/');
  std::string folder =
      slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + ".duoramic-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + ".tmp";
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = std::string("cannot create: ") + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size();
  if (!ok) error = std::string("write failed: ") + std::strerror(errno);
  if (::close(fd) != 0 && ok) {
    error = std::string("write failed: ") + std::strerror(errno);
    ok = false;
  }
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    error = std::string("cannot replace: ") + std::strerror(errno);
    ok = false;
  }
  if (!ok) std::remove(temp.c_str());
  return ok;
}

}  // namespace

const char kInputNotOverwritten[] =
    "is one of the input files; it is not overwritten";

bool IsStereoOutputName(const std::string& path) {
  return EndsWithIgnoringCase(path, ".mpo") ||
         EndsWithIgnoringCase(path, ".jps") ||
         EndsWithIgnoringCase(path, ".pns");
}

bool IsOneOfInputs(const std::string& path,
                   const std::vector<std::string>& inputs) {
  struct stat out;
  if (::stat(path.c_str(), &out) != 0) return false;
  for (const std::string& input : inputs) {
    struct stat in;
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev &&
        in.st_ino == out.st_ino)
      return true;
  }
  return false;
}

bool WriteStereoFile(const Picture& left, const Picture& right,
                     const std::string& path,
                     const std::vector<std::string>& inputs,
                     std::string& error,
                     const std::vector<uint8_t>& sourceExif) {
  if (IsOneOfInputs(path, inputs)) {
    error = kInputNotOverwritten;
    return false;
  }
  if (EndsWithIgnoringCase(path, ".mpo")) {
    std::vector<uint8_t> bytes;
    return EncodeMpo(left, right, kStereoJpegQuality, bytes, error,
                     sourceExif) &&
           WriteBytes(bytes, path, error);
  }
  if (EndsWithIgnoringCase(path, ".jps")) {
    std::vector<uint8_t> bytes;
    return EncodeJps(left, right, kStereoJpegQuality, bytes, error,
                     sourceExif) &&
           WriteBytes(bytes, path, error);
  }
  Picture joined = JoinSideBySide(left, right);
  if (!joined) {
    error = "out of memory";
    return false;
  }
  if (EndsWithIgnoringCase(path, ".pns"))
    return WritePicturePng(joined, path, error);
  error = "the output must end in .mpo, .jps or .pns";
  return false;
}
