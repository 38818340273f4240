// duoramic-cli: the viewer's readers and stereo pipeline from the shell.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/align_command.h"
#include "cli/comment_command.h"
#include "cli/convert_command.h"
#include "cli/list_command.h"
#include "cli/movie_command.h"
#include "cli/makelist_command.h"
#include "cli/json_text.h"
#include "cli/page360_command.h"
#include "cli/png_write.h"
#include "cli/render.h"
#include "cli/still_views.h"
#include "cli/stereo_output.h"
#include "cli/thumbnail_command.h"
#include "cli/transition_command.h"
#include "image/comment.h"
#include "platform/headless_gui.h"

namespace {

const char kInfoUsage[] = "  duoramic-cli info FILE [--json]\n";
const char kDecodeUsage[] = "  duoramic-cli decode FILE [-o OUT.png]\n";
const char kSplitUsage[] =
    "  duoramic-cli split FILE [-l LEFT.png] [-r RIGHT.png]\n";

// Every verb with its usage lines, in the order the tool's help lists them.
struct Verb {
  const char* name;
  const char* usage;
};
const Verb kVerbs[] = {
    {"info", kInfoUsage},           {"decode", kDecodeUsage},
    {"split", kSplitUsage},         {"list", kListUsage},
    {"render", kRenderUsage},       {"transition", kTransitionUsage},
    {"movie", kMovieUsage},         {"comment", kCommentUsage},
    {"makelist", kMakeListUsage},   {"page360", kPage360Usage},
    {"convert", kConvertUsage},     {"thumbnail", kThumbnailUsage},
    {"align", kAlignUsage},
};

bool IsHelpOption(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

void PrintUsage(FILE* to) {
  std::fputs("usage:\n", to);
  for (const Verb& verb : kVerbs) std::fputs(verb.usage, to);
}

int Usage() {
  PrintUsage(stderr);
  return 2;
}

int Help() {
  std::puts("duoramic-cli: the Duoramic viewer's readers and stereo renderer "
            "from the command line.\n");
  PrintUsage(stdout);
  std::puts("\nFormats are named as in the viewer (DuboisAnaglyph, "
            "RowInterlace, ...) or by number.\nExit status: 0 done, 1 a file "
            "failed (named on stderr), 2 bad usage, 3 align could not "
            "measure the pair.\nSee duoramic-cli(1).");
  return 0;
}

// The running executable, which convert starts once per item.
std::string SelfPath(const char* argv0) {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(argv0) : self.string();
}

int Fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "duoramic-cli: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

bool WriteOrFail(const Picture& picture, const std::string& out, int& status) {
  if (out.empty()) return true;
  std::string error;
  if (WritePicturePng(picture, out, error)) return true;
  status = Fail(out, error);
  return false;
}

// A folder is something the viewer and convert open, not one picture.
bool FailIfFolder(const std::string& file, int& status) {
  std::error_code error;
  if (!std::filesystem::is_directory(file, error)) return false;
  status = Fail(file, "is a folder, not a picture (the viewer and "
                      "duoramic-cli convert take folders)");
  return true;
}

// What a stereo still's camera or panorama data adds to the report.
void PrintStereoStillInfo(const StereoStillInfo& info, bool json) {
  auto number = [&](const char* key, const char* label,
                    std::optional<double> value) {
    if (!value) return;
    if (json) std::printf(", \"%s\": %.3f", key, *value);
    else std::printf("%s: %.3f\n", label, *value);
  };
  if (json) std::printf(", \"views\": %d", info.twoViews ? 2 : 1);
  else std::printf("views: %d\n", info.twoViews ? 2 : 1);
  number("baseline_mm", "baseline (mm)", info.baselineMm);
  number("horizontal_fov_deg", "horizontal field of view (degrees)",
         info.horizontalFovDeg);
  number("vertical_fov_deg", "vertical field of view (degrees)",
         info.verticalFovDeg);
  if (info.disparity) {
    if (json) std::printf(", \"disparity_adjustment\": %d", *info.disparity);
    else std::printf("disparity adjustment: %d\n", *info.disparity);
  }
  if (info.panorama) {
    if (json) std::printf(", \"projection\": \"equirectangular\"");
    else std::printf("projection: equirectangular\n");
  }
}

int Info(const std::string& file, bool json) {
  int status = 0;
  if (FailIfFolder(file, status)) return status;
  StillViews views;
  std::string reason;
  if (!LoadStillViews(file, views, reason)) return Fail(file, reason);
  int width = PictureWidth(views.whole), height = PictureHeight(views.whole);
  std::string comment = CurrentComment;
  if (json) {
    std::printf("{\"file\": %s, \"format\": \"%s\", \"width\": %d, "
                "\"height\": %d, \"bits\": %d, \"comment\": %s",
                JsonString(file).c_str(), views.formatName.c_str(), width,
                height, views.sourceBits, JsonString(comment).c_str());
    if (views.isMpo) {
      std::printf(", \"left\": {\"width\": %d, \"height\": %d}, "
                  "\"right\": {\"width\": %d, \"height\": %d}, "
                  "\"parallax_shift_x\": %d, \"parallax_shift_y\": %d",
                  PictureWidth(views.left), PictureHeight(views.left),
                  PictureWidth(views.right), PictureHeight(views.right),
                  ParallaxShiftX, ParallaxShiftY);
    }
    if (views.stereoStill) PrintStereoStillInfo(*views.stereoStill, true);
    std::printf("}\n");
    return 0;
  }
  std::printf("file: %s\nformat: %s\nsize: %dx%d\nbits: %d\ncomment: %s\n",
              file.c_str(), views.formatName.c_str(), width, height,
              views.sourceBits, comment.c_str());
  if (views.isMpo) {
    std::printf("left view: %dx%d\nright view: %dx%d\n"
                "parallax shift: %d, %d\n",
                PictureWidth(views.left), PictureHeight(views.left),
                PictureWidth(views.right), PictureHeight(views.right),
                ParallaxShiftX, ParallaxShiftY);
  }
  if (views.stereoStill) PrintStereoStillInfo(*views.stereoStill, false);
  return 0;
}

int Decode(const std::string& file, const std::string& out) {
  int folder = 0;
  if (FailIfFolder(file, folder)) return folder;
  if (IsOneOfInputs(out, {file})) return Fail(out, kInputNotOverwritten);
  StillDecode decoded = DecodeStill(file);
  if (!decoded.picture) return Fail(file, decoded.failure);
  int status = 0;
  WriteOrFail(decoded.picture, out, status);
  return status;
}

int Split(const std::string& file, const std::string& leftOut,
          const std::string& rightOut) {
  int folder = 0;
  if (FailIfFolder(file, folder)) return folder;
  for (const std::string* out : {&leftOut, &rightOut})
    if (IsOneOfInputs(*out, {file})) return Fail(*out, kInputNotOverwritten);
  StillViews views;
  std::string reason;
  if (!LoadStillViews(file, views, reason, /*wantWhole=*/false))
    return Fail(file, reason);
  int status = 0;
  if (WriteOrFail(views.left, leftOut, status))
    WriteOrFail(views.right, rightOut, status);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Fonts need a GUI application; it is only started when text is drawn.
  HeadlessGui gui(argc, argv, /*lazy=*/true);
  std::vector<std::string> args(argv + 1, argv + argc);
  // "VERB --help" anywhere among a known verb's arguments: its usage.
  if (args.size() >= 2 &&
      std::any_of(args.begin() + 1, args.end(), IsHelpOption)) {
    for (const Verb& verb : kVerbs)
      if (args[0] == verb.name) {
        std::fputs("usage:\n", stdout);
        std::fputs(verb.usage, stdout);
        return 0;
      }
  }
  if (!args.empty() && args[0] == "render")
    return RunRenderCommand({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "list")
    return RunListCommand({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "transition")
    return RunTransitionCommand({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "movie")
    return RunMovieCommand({args.begin() + 1, args.end()});
  if (IsMovieInfo(args)) return RunMovieInfoCommand({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "comment")
    return RunCommentCommand({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "makelist")
    return RunMakeListCommand({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "page360")
    return RunPage360Command({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "convert")
    return RunConvertCommand({args.begin() + 1, args.end()}, SelfPath(argv[0]));
  if (!args.empty() && args[0] == "thumbnail")
    return RunThumbnailCommand({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "align")
    return RunAlignCommand({args.begin() + 1, args.end()});
  if (!args.empty() && (IsHelpOption(args[0]) || args[0] == "help"))
    return Help();
  if (args.size() < 2) return Usage();
  const std::string& command = args[0];
  std::string file, out, left, right;
  bool json = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    bool ok = true;
    if (a == "--json") json = true;
    else if (a == "-o") ok = value(out);
    else if (a == "-l") ok = value(left);
    else if (a == "-r") ok = value(right);
    else if (!a.empty() && a[0] == '-') ok = false;
    else if (file.empty()) file = a;
    else ok = false;
    if (!ok) return Usage();
  }
  if (file.empty()) return Usage();
  if (command == "info") return Info(file, json);
  if (command == "decode") return Decode(file, out);
  if (command == "split") return Split(file, left, right);
  return Usage();
}
