#include "cli/render.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cli/png_write.h"
#include "image/comment.h"
#include "image/file_data.h"
#include "image/mpo_reader.h"
#include "image/still_reader.h"
#include "shell/viewer_state.h"
#include "stereo/present.h"
#include "stereo/scale.h"
#include "stereo/stereo_format.h"
#include "stereo/text_overlay.h"

const char kRenderUsage[] =
    "  duoramic-cli render FILE [RIGHTFILE] --format CODE|NAME -o OUT.png\n"
    "      [--size WxH] [--screen WxH] [--swap] [--width-mode 0|5|6]\n"
    "      [--zoom PERCENT] [--float N] [--comment on|off] [--help-overlay]\n"
    "      [--smooth]\n";

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
                      a == "--float" || a == "--comment";
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
    } else if (a == "--zoom") {
      if (!ParseInt(value, o.zoom) || o.zoom < 1 || o.zoom > 10000)
        return UsageError("--zoom takes a percentage from 1 to 10000");
    } else if (a == "--float") {
      if (!ParseInt(value, o.floatOffset) || o.floatOffset < -100 ||
          o.floatOffset > 100)
        return UsageError("--float takes a step count from -100 to 100");
    } else if (a == "--comment") {
      if (value != "on" && value != "off")
        return UsageError("--comment takes on or off");
      o.commentOn = value == "on";
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
  if (!o.format) return UsageError("--format is required");
  if (o.out.empty()) return UsageError("-o OUT.png is required");
  if (!sizeGiven) o.client = o.screen;
  return 0;
}

// Until the viewer's pair loader is in place, the item is read and fitted
// here in the simplest form that gives the same pictures: both views scaled
// (aspect kept) to one size that fits the screen, then each placed for the
// floating window with the comment band below it.  A side-by-side still is
// fitted to twice the screen width and cut into halves; an MPO's two views
// or two files are each fitted to the screen on a common canvas.  Panorama
// mode is not offered here.

bool HasBand() { return Viewer.CommentOn && !CurrentCommentEmpty(); }

// The screen height left for the picture when its comment band must fit too.
int PictureAreaHeight(int screenHeight) {
  if (!HasBand()) return screenHeight;
  return screenHeight -
         screenHeight * Viewer.CommentSize / (Viewer.CommentSize + 100);
}

// The picture scaled to a x b (aspect kept, centred); unchanged when it
// already has that size.
Picture FitTo(Picture picture, int a, int b) {
  if (PictureWidth(picture) == a && PictureHeight(picture) == b) return picture;
  return ScaleToFit(picture, a, b);
}

// Columns [first, first + v) of `picture` as one view for the floating
// window: the view drawn d = |offset x v / 100| columns in when it is the
// left view and the offset is 0 or more, or the right view and the offset is
// negative, else at column 0; the strip beside it and the band under it
// black, the comment written in the band.  side 0 left, 1 right.
Picture PlaceView(const Picture& picture, int first, int v, int side,
                  int offset) {
  int h = PictureHeight(picture);
  int d = std::abs(offset * v / 100);
  int column = ((side == 0) == (offset >= 0)) ? d : 0;
  int band = HasBand() ? h * Viewer.CommentSize / 100 : 0;
  Picture out = CreatePicture(v + d, h + band, 24);
  if (!out) return nullptr;
  for (int y = 0; y < h; ++y)  // stored rows: the band is at the bottom
    std::memcpy(PictureRow(out.get(), band + y) + 3 * column,
                PictureRow(picture.get(), y) + 3 * first, 3 * size_t(v));
  if (band > 0) DrawCommentText(out, {column, h, v, band});
  return out;
}

// The target box for a w x h picture fitted inside W x H, aspect kept.
Size FitBox(int64_t w, int64_t h, int64_t W, int64_t H) {
  if (h * 1000 / H < w * 1000 / W)
    return {int(W), std::max(1, int(h * W / w))};
  return {std::max(1, int(H * w / h)), int(H)};
}

bool CutSideBySide(Picture whole, const RenderOptions& o, Picture& left,
                   Picture& right, std::string& reason) {
  if (PictureWidth(whole) < 2) {
    reason = "picture is too narrow to hold two views";
    return false;
  }
  Size box = FitBox(PictureWidth(whole), PictureHeight(whole),
                    2 * int64_t(o.screen.width), PictureAreaHeight(o.screen.height));
  Picture scaled = FitTo(std::move(whole), box.width, box.height);
  int v = box.width / 2;
  if (scaled && v >= 1) {
    left = PlaceView(scaled, 0, v, 0, o.floatOffset);
    right = PlaceView(scaled, v, v, 1, o.floatOffset);
  }
  if (left && right) return true;
  reason = v < 1 ? "picture is too narrow to hold two views" : "out of memory";
  return false;
}

bool FitPair(const RenderOptions& o, Picture& left, Picture& right,
             std::string& reason) {
  int mw = std::max(PictureWidth(left), PictureWidth(right));
  int mh = std::max(PictureHeight(left), PictureHeight(right));
  Size box = FitBox(mw, mh, o.screen.width, PictureAreaHeight(o.screen.height));
  Picture* slots[2] = {&left, &right};
  for (int side = 0; side < 2; ++side) {
    Picture scaled = FitTo(std::move(*slots[side]), box.width, box.height);
    if (scaled) *slots[side] = PlaceView(scaled, 0, box.width, side, o.floatOffset);
    if (!scaled || !*slots[side]) {
      reason = "out of memory";
      return false;
    }
  }
  return true;
}

bool HasMpoExtension(const std::string& file) {
  return file.size() >= 4 &&
         strcasecmp(file.c_str() + file.size() - 4, ".mpo") == 0;
}

// Reads the item into two fitted views; on failure names the file and why.
bool LoadItem(const RenderOptions& o, Picture& left, Picture& right,
              std::string& failedFile, std::string& reason) {
  ClearCurrentComment();
  ParallaxShiftX = ParallaxShiftY = 0;
  failedFile = o.file;
  if (!o.rightFile.empty()) {
    StillDecode l = DecodeStill(o.file);
    if (!l.picture) {
      reason = l.failure;
      return false;
    }
    StillDecode r = DecodeStill(o.rightFile);
    if (!r.picture) {
      failedFile = o.rightFile;
      reason = r.failure;
      return false;
    }
    left = std::move(l.picture);
    right = std::move(r.picture);
    return FitPair(o, left, right, reason);
  }
  if (HasMpoExtension(o.file)) {
    ClearLoadFailure();
    if (!LoadMpoFile(o.file, left, right)) {
      reason = "not a stereo MPO: " + LastLoadFailure();
      return false;
    }
    return FitPair(o, left, right, reason);
  }
  StillDecode whole = DecodeStill(o.file);
  if (!whole.picture) {
    reason = whole.failure;
    return false;
  }
  return CutSideBySide(std::move(whole.picture), o, left, right, reason);
}

}  // namespace

int RunRenderCommand(const std::vector<std::string>& args) {
  RenderOptions o;
  if (int status = ParseRenderOptions(args, o)) return status;
  Viewer.CommentOn = o.commentOn;  // the loader sizes the band by it
  Picture left, right;
  std::string failedFile, reason;
  if (!LoadItem(o, left, right, failedFile, reason))
    return Fail(failedFile, reason);
  Viewer.StereoType = o.format->code;
  Viewer.SwapLR = o.swap;
  Viewer.WidthMode = o.widthMode;
  Viewer.FitToWindow = o.zoom == 0;
  Viewer.ZoomPercent = o.zoom;
  Viewer.FloatOffset = o.floatOffset;
  Viewer.HelpOverlayOn = o.help;
  Viewer.SmoothingOn = o.smooth;
  SetClientSize(o.client.width, o.client.height);
  Viewer.CurrentLeft = std::move(left);
  Viewer.CurrentRight = std::move(right);
  if (PresentStereoPair(Viewer.CurrentLeft, Viewer.CurrentRight) != 0)
    return Fail(o.file, "nothing to present");
  std::string error;
  if (!WriteFramebufferPng(Presentation.frame, o.out, error))
    return Fail(o.out, error);
  return 0;
}
