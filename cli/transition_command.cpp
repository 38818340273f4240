#include "cli/transition_command.h"

#include <strings.h>

#include <charconv>
#include <cstdio>
#include <string_view>

#include "cli/item_loader.h"
#include "cli/png_write.h"
#include "core/viewer_state.h"
#include "stereo/present.h"
#include "stereo/stereo_format.h"
#include "stereo/transition.h"

const char kTransitionUsage[] =
    "  duoramic-cli transition OLD NEW --effect EFFECT --step 0..100\n"
    "      -o OUT.png [--random A,B] [--variant 0..4] [--format CODE|NAME]\n"
    "      [--size WxH] [--screen WxH]\n"
    "      EFFECT: none, random, slide, perspective, transparent, spherical,\n"
    "      roll, slide-right, slide-left, slide-up, slide-down, or the\n"
    "      effect setting's number (0..6, 12..15)\n";

namespace {

struct Size {
  int width = 0;
  int height = 0;
};

struct TransitionOptions {
  std::string oldFile, newFile, out;
  int effect = -1;  // the effect setting nEFType
  int step = -1;
  int randomA = 0, randomB = 0, variant = 0;
  const StereoFormatEntry* format = nullptr;
  Size client;              // the window's client area; default the screen
  Size screen{1920, 1080};  // the screen the pictures are fitted to
};

constexpr int kMaxSide = 16384;
constexpr int kRandMax = 32767;

// Effect names and the effect setting each stands for.
struct EffectName {
  const char* name;
  int nEFType;
};
constexpr EffectName kEffects[] = {
    {"none", 0},        {"random", 1},       {"slide", 2},
    {"perspective", 3}, {"transparent", 4},  {"spherical", 5},
    {"roll", 6},        {"slide-right", 12}, {"slide-left", 13},
    {"slide-up", 14},   {"slide-down", 15},
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "duoramic-cli transition: %s\nusage:\n%s",
               message.c_str(), kTransitionUsage);
  return 2;
}

int Fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "duoramic-cli: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

bool ParseInt(std::string_view text, int& value, int low, int high) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() &&
         value >= low && value <= high;
}

bool ParseSize(std::string_view text, Size& size) {
  size_t x = text.find_first_of("xX");
  return x != std::string_view::npos &&
         ParseInt(text.substr(0, x), size.width, 1, kMaxSide) &&
         ParseInt(text.substr(x + 1), size.height, 1, kMaxSide);
}

bool ParseEffect(const std::string& text, int& effect) {
  for (const EffectName& e : kEffects)
    if (strcasecmp(text.c_str(), e.name) == 0) return (effect = e.nEFType), true;
  return ParseInt(text, effect, 0, 15) && (effect <= 6 || effect >= 12);
}

bool ParseRandoms(std::string_view text, int& a, int& b) {
  size_t comma = text.find(',');
  return comma != std::string_view::npos &&
         ParseInt(text.substr(0, comma), a, 0, kRandMax) &&
         ParseInt(text.substr(comma + 1), b, 0, kRandMax);
}

// Checks one option that takes a value; returns an empty text when sound.
std::string TakeOption(const std::string& name, const std::string& value,
                       TransitionOptions& o) {
  if (name == "--effect") {
    if (!ParseEffect(value, o.effect)) return "unknown effect \"" + value + "\"";
  } else if (name == "--step") {
    if (!ParseInt(value, o.step, 0, 100)) return "--step takes 0 to 100";
  } else if (name == "--random") {
    if (!ParseRandoms(value, o.randomA, o.randomB))
      return "--random takes A,B with each 0 to 32767";
  } else if (name == "--variant") {
    if (!ParseInt(value, o.variant, 0, 4)) return "--variant takes 0 to 4";
  } else if (name == "--format") {
    o.format = FindStereoFormatByName(value);
    if (!o.format) return "unknown format \"" + value + "\"";
  } else if (name == "--size") {
    if (!ParseSize(value, o.client)) return "bad --size " + value;
  } else if (name == "--screen") {
    if (!ParseSize(value, o.screen)) return "bad --screen " + value;
  } else {
    o.out = value;  // -o
  }
  return {};
}

int ParseOptions(const std::vector<std::string>& args, TransitionOptions& o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool takesValue = a == "--effect" || a == "--step" || a == "--random" ||
                      a == "--variant" || a == "--format" || a == "--size" ||
                      a == "--screen" || a == "-o";
    if (takesValue) {
      if (i + 1 >= args.size()) return UsageError(a + " needs a value");
      std::string problem = TakeOption(a, args[++i], o);
      if (!problem.empty()) return UsageError(problem);
    } else if (!a.empty() && a[0] == '-') {
      return UsageError("unknown option " + a);
    } else if (o.oldFile.empty()) {
      o.oldFile = a;
    } else if (o.newFile.empty()) {
      o.newFile = a;
    } else {
      return UsageError("exactly two files: OLD and NEW");
    }
  }
  if (o.newFile.empty()) return UsageError("OLD and NEW are required");
  if (o.effect < 0) return UsageError("--effect is required");
  if (o.step < 0) return UsageError("--step is required");
  if (o.out.empty()) return UsageError("-o OUT.png is required");
  if (o.client.width == 0) o.client = o.screen;
  return 0;
}

}  // namespace

int RunTransitionCommand(const std::vector<std::string>& args) {
  TransitionOptions o;
  if (int status = ParseOptions(args, o)) return status;
  ScreenSize screen{o.screen.width, o.screen.height};
  Picture oldLeft, oldRight, newLeft, newRight;
  ItemLoadFailure failure;
  if (!LoadViewerItem(o.oldFile, "", screen, oldLeft, oldRight, failure) ||
      !LoadViewerItem(o.newFile, "", screen, newLeft, newRight, failure))
    return Fail(failure.file, failure.reason);
  std::string canvasError;
  SetTransitionHooks({nullptr, [&](const char* text, const char*) {
                        canvasError = text;
                      }});
  Viewer.StereoType = o.format ? o.format->code : SideBySide;
  Viewer.nEFType = o.effect;
  Viewer.TransitionVariant = o.variant;
  Viewer.TransitionRandomA = o.randomA;
  Viewer.TransitionRandomB = o.randomB;
  SetClientSize(o.client.width, o.client.height);
  // The window shows the old item when the next one is asked for; the
  // steps then run in order, as on a viewer fast enough to draw them all,
  // so that what the first step makes (canvases, balls) is made as there.
  Viewer.CurrentLeft = std::move(oldLeft), Viewer.CurrentRight = std::move(oldRight);
  Viewer.LeftPicture = std::move(newLeft), Viewer.RightPicture = std::move(newRight);
  PresentStereoPair(Viewer.CurrentLeft, Viewer.CurrentRight);
  for (int step = 0; step <= o.step && canvasError.empty(); ++step)
    TransitionStep(step);
  SetTransitionHooks({});
  if (!canvasError.empty())
    return Fail(o.oldFile, "cannot make the transition canvases (" +
                               canvasError + ")");
  std::string error;
  if (!WriteFramebufferPng(Presentation.frame, o.out, error))
    return Fail(o.out, error);
  return 0;
}
