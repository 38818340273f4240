#include "cli/align_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "align/alignment.h"
#include "cli/json_text.h"
#include "cli/still_views.h"
#include "cli/stereo_output.h"
#include "image/exif_copy.h"
#include "image/file_data.h"
#include "image/file_names.h"
#include "image/jpeg_reader.h"
#include "image/mpo_reader.h"
#include "image/still_reader.h"
#include "image/two_threads.h"

const char kAlignUsage[] =
    "  duoramic-cli align LEFT RIGHT | STEREOFILE [--json]\n"
    "      [-o OUT.mpo|OUT.jps|OUT.pns]\n";

namespace {

int AlignUsage(const std::string& message) {
  std::fprintf(stderr, "duoramic-cli align: %s\nusage:\n%s", message.c_str(),
               kAlignUsage);
  return 2;
}

int Fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "duoramic-cli: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

// The views at full size: a stereo file's two, or two files read at once.
int LoadViews(const std::vector<std::string>& files, Picture& left,
              Picture& right) {
  for (const std::string& file : files) {
    std::error_code error;
    if (std::filesystem::is_directory(file, error))
      return Fail(file, "is a folder, not a picture");
  }
  if (files.size() == 1) {
    StillViews views;
    std::string reason;
    if (!LoadStillViews(files[0], views, reason, /*wantWhole=*/false))
      return Fail(files[0], reason);
    left = std::move(views.left);
    right = std::move(views.right);
    return 0;
  }
  StillDecode l, r;
  std::string failure;
  RunSideBySide([&] { r = DecodeStill(files[1]); },
                [&] { l = DecodeStill(files[0]); }, failure);
  if (!l.picture) return Fail(files[0], l.failure);
  if (!r.picture) return Fail(files[1], r.failure.empty() ? failure : r.failure);
  left = std::move(l.picture);
  right = std::move(r.picture);
  return 0;
}

// The reduction libjpeg can decode at that leaves the longer side at least
// the measurement's own size: measuring only, the full views are not needed.
int ReductionFor(int width, int height) {
  int side = std::max(width, height), d = 8;
  while (d > 1 && side / d < kAlignmentSide) d /= 2;
  return d;
}

// Views decoded already reduced, when every file is a JPEG (an MPO's two,
// or a left and a right JPEG) large enough to gain from it.  False leaves
// the full-size reading to LoadViews, which also names any failure.
bool LoadReducedViews(const std::vector<std::string>& files, Picture& left,
                      Picture& right, int& factor) {
  std::vector<std::vector<uint8_t>> bytes(files.size());
  for (size_t i = 0; i < files.size(); ++i)
    if (!FileKindMatches(files[i], files.size() == 1 ? MpoKind : JpegKind) ||
        !ReadWholeFile(files[i], bytes[i]))
      return false;
  int width = 0, height = 0;
  if (!ReadJpegSize({bytes[0].data(), bytes[0].size(), false}, width, height))
    return false;
  factor = ReductionFor(width, height);
  if (factor == 1) return false;
  if (files.size() == 1) {
    MpoViews views;
    if (!DecodeMpoViewsReduced(bytes[0].data(), bytes[0].size(), factor,
                               views))
      return false;
    left = std::move(views.left);
    right = std::move(views.right);
    return true;
  }
  std::string failure;
  RunSideBySide(
      [&] {
        right = DecodeJpegPixelsReduced({bytes[1].data(), bytes[1].size(), false},
                                        factor);
      },
      [&] {
        left = DecodeJpegPixelsReduced({bytes[0].data(), bytes[0].size(), false},
                                       factor);
      },
      failure);
  return left && right;
}

void Print(const Alignment& a, bool json) {
  if (json) {
    std::printf("{\"measured\": %s, \"rotation_deg\": %.4f, "
                "\"vertical_px\": %.3f, \"scale\": %.5f, "
                "\"disparity_min_px\": %.2f, \"disparity_max_px\": %.2f, "
                "\"matches\": %d, \"confidence\": %.3f",
                a.measured ? "true" : "false", a.rotationDeg, a.verticalPx,
                a.scale, a.disparityMinPx, a.disparityMaxPx, a.matches,
                a.confidence);
    if (!a.measured) std::printf(", \"reason\": %s", JsonString(a.failure).c_str());
    std::printf("}\n");
    return;
  }
  if (!a.measured) return;
  std::printf("rotation: %.4f deg\nvertical: %.3f px\nscale: %.5f\n"
              "disparity: %.2f .. %.2f px\nmatches: %d\nconfidence: %.3f\n",
              a.rotationDeg, a.verticalPx, a.scale, a.disparityMinPx,
              a.disparityMaxPx, a.matches, a.confidence);
}

}  // namespace

int RunAlignCommand(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  std::string out;
  bool json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json") {
      json = true;
    } else if (a == "-o") {
      if (i + 1 >= args.size()) return AlignUsage("-o needs a value");
      out = args[++i];
      if (!IsStereoOutputName(out))
        return AlignUsage("the output must end in .mpo, .jps or .pns");
    } else if (!a.empty() && a[0] == '-') {
      return AlignUsage("unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (files.empty() || files.size() > 2)
    return AlignUsage("give one stereo file or a left and a right file");
  // Checked before the work: the originals are never written over.
  if (!out.empty() && IsOneOfInputs(out, files))
    return Fail(out, "is one of the input files; it is not overwritten");

  Picture left, right;
  Alignment a;
  int factor = 1;
  if (out.empty() && LoadReducedViews(files, left, right, factor)) {
    a = ScaledAlignment(MeasureAlignment(left, right), factor);
  } else {
    if (int status = LoadViews(files, left, right)) return status;
    a = MeasureAlignment(left, right);
  }
  Print(a, json);
  if (!a.measured) {
    std::fprintf(stderr,
                 "duoramic-cli align: %s: not aligned: %s; the pair is left "
                 "as it is%s\n",
                 files[0].c_str(), a.failure.c_str(),
                 out.empty() ? "" : " and nothing is written");
    return kAlignNotMeasured;
  }
  if (out.empty()) return 0;
  Picture leftOut, rightOut;
  if (!CorrectPair(left, right, a, leftOut, rightOut))
    return Fail(out, "the corrected views have no common area");
  // The full-size views are no longer needed: their memory goes first.
  left.reset();
  right.reset();
  std::string error;
  // The camera's Exif goes with the corrected pair, as convert keeps it.
  if (!WriteStereoFile(leftOut, rightOut, out, files, error,
                       FindExifInFile(files[0])))
    return Fail(out, error);
  return 0;
}
