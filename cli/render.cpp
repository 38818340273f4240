#include "cli/render.h"

#include <charconv>
#include <cstdio>
#include <string_view>

#include "cli/item_loader.h"
#include "cli/png_write.h"
#include "cli/stereo_output.h"
#include "cli/stereo_surface_render.h"
#include "core/viewer_state.h"
#include "stereo/present.h"
#include "stereo/stereo_format.h"

const char kRenderUsage[] =
    "  duoramic-cli render FILE [RIGHTFILE] --format CODE|NAME -o OUT.png\n"
    "  duoramic-cli render LIST.txt --item N [--format CODE|NAME] -o OUT.png\n"
    "      [--size WxH] [--screen WxH] [--swap] [--width-mode 0|5|6]\n"
    "      [--zoom PERCENT] [--float N] [--comment on|off] [--help-overlay]\n"
    "      [--smooth]\n"
    "      (format 22 writes the stereo surface, 2W x H+1 for --size WxH)\n";

namespace {

struct Size {
  int width = 0;
  int height = 0;
};

struct RenderOptions {
  std::string file, rightFile, out;
  const StereoFormatEntry* format = nullptr;
  Size client;                // the window's client area; default the screen
  Size screen{1920, 1080};    // the screen the pair is fitted to
  bool swap = false, commentOn = true, help = false, smooth = false;
  int widthMode = 0;
  int zoom = 0;               // 0: fit to the window
  int floatOffset = 0;
  int item = 0;               // a list entry, counted from 1
  bool widthModeGiven = false, zoomGiven = false;
  ItemOverrides given;        // options a list's settings must not override
};

// Larger clients are refused rather than allocated.
constexpr int kMaxSide = 16384;

int UsageError(const std::string& message) {
  std::fprintf(stderr, "duoramic-cli render: %s\nusage:\n%s", message.c_str(),
               kRenderUsage);
  return 2;
}

int Fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "duoramic-cli: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

bool ParseInt(std::string_view text, int& value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool ParseSize(const std::string& text, Size& size) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  std::string_view all(text);
  return ParseInt(all.substr(0, x), size.width) &&
         ParseInt(all.substr(x + 1), size.height) && size.width >= 1 &&
         size.height >= 1 && size.width <= kMaxSide && size.height <= kMaxSide;
}

std::string FormatNames() {
  std::string names;
  for (const StereoFormatEntry& entry : StereoFormats()) {
    if (!names.empty()) names += ", ";
    names += entry.name;
  }
  return names;
}

// Parses the arguments; returns 0 when they are sound, else the usage status.
int ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& o) {
  bool sizeGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string value;
    auto next = [&] {
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    bool takesValue = a == "--format" || a == "--size" || a == "--screen" ||
                      a == "-o" || a == "--width-mode" || a == "--zoom" ||
                      a == "--float" || a == "--comment" || a == "--item";
    if (takesValue && !next()) return UsageError(a + " needs a value");
    if (a == "--format") {
      o.format = FindStereoFormatByName(value);
      if (!o.format)
        return UsageError("unknown format \"" + value + "\"; valid names: " +
                          FormatNames() + " (or their numeric codes)");
    } else if (a == "--size") {
      if (!ParseSize(value, o.client)) return UsageError("bad --size " + value);
      sizeGiven = true;
    } else if (a == "--screen") {
      if (!ParseSize(value, o.screen)) return UsageError("bad --screen " + value);
    } else if (a == "-o") {
      o.out = value;
    } else if (a == "--width-mode") {
      if (!ParseInt(value, o.widthMode) ||
          (o.widthMode != 0 && o.widthMode != 5 && o.widthMode != 6))
        return UsageError("--width-mode takes 0, 5 or 6");
      o.widthModeGiven = true;
    } else if (a == "--zoom") {
      if (!ParseInt(value, o.zoom) || o.zoom < 1 || o.zoom > 10000)
        return UsageError("--zoom takes a percentage from 1 to 10000");
      o.zoomGiven = true;
    } else if (a == "--float") {
      if (!ParseInt(value, o.floatOffset) || o.floatOffset < -100 ||
          o.floatOffset > 100)
        return UsageError("--float takes a step count from -100 to 100");
      o.given.floatOffset = o.floatOffset;
    } else if (a == "--comment") {
      if (value != "on" && value != "off")
        return UsageError("--comment takes on or off");
      o.commentOn = value == "on";
      o.given.commentOn = o.commentOn;
    } else if (a == "--item") {
      if (!ParseInt(value, o.item) || o.item < 1)
        return UsageError("--item takes an entry number from 1");
    } else if (a == "--swap") {
      o.swap = true;
    } else if (a == "--help-overlay") {
      o.help = true;
    } else if (a == "--smooth") {
      o.smooth = true;
    } else if (!a.empty() && a[0] == '-') {
      return UsageError("unknown option " + a);
    } else if (o.file.empty()) {
      o.file = a;
    } else if (o.rightFile.empty()) {
      o.rightFile = a;
    } else {
      return UsageError("at most two files");
    }
  }
  if (o.file.empty()) return UsageError("no file given");
  // A list brings its own stereo format; --format then overrides it.
  if (!o.format && o.item == 0) return UsageError("--format is required");
  if (o.item != 0 && !o.rightFile.empty())
    return UsageError("--item reads one list, not a pair of files");
  if (o.out.empty()) return UsageError("-o OUT.png is required");
  if (!sizeGiven) o.client = o.screen;
  return 0;
}

}  // namespace

int RunRenderCommand(const std::vector<std::string>& args) {
  RenderOptions o;
  if (int status = ParseRenderOptions(args, o)) return status;
  if (IsOneOfInputs(o.out, {o.file, o.rightFile}))
    return Fail(o.out, kInputNotOverwritten);
  // The loader places the views for the floating window and sizes the
  // comment band, so both are set before reading.
  Viewer.CommentOn = o.commentOn;
  Viewer.FloatOffset = o.floatOffset;
  Picture left, right;
  ItemLoadFailure failure;
  ScreenSize screen{o.screen.width, o.screen.height};
  bool loaded = o.item != 0
                    ? LoadListItem(o.file, o.item, o.given, screen, left,
                                   right, failure)
                    : LoadViewerItem(o.file, o.rightFile, screen, left, right,
                                     failure);
  if (!loaded) return Fail(failure.file, failure.reason);
  if (o.format) Viewer.StereoType = o.format->code;
  Viewer.SwapLR = o.swap;
  // A list entry's width and panorama fields have set these while it was
  // read; an option given on the command line still wins.
  if (o.item == 0 || o.widthModeGiven) Viewer.WidthMode = o.widthMode;
  if (o.item == 0 || o.zoomGiven) {
    Viewer.FitToWindow = o.zoom == 0;
    Viewer.ZoomPercent = o.zoom;
  }
  Viewer.HelpOverlayOn = o.help;
  Viewer.SmoothingOn = o.smooth;
  SetClientSize(o.client.width, o.client.height);
  Viewer.CurrentLeft = std::move(left);
  Viewer.CurrentRight = std::move(right);
  if (Viewer.StereoType == NvidiaStereo)
    return RenderStereoSurface(o.client.width, o.client.height, o.file, o.out);
  if (PresentStereoPair(Viewer.CurrentLeft, Viewer.CurrentRight) != 0)
    return Fail(o.file, "nothing to present");
  std::string error;
  if (!WriteFramebufferPng(Presentation.frame, o.out, error))
    return Fail(o.out, error);
  return 0;
}
