#include "cli/movie_command.h"

#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "cli/json_text.h"
#include "cli/png_write.h"
#include "image/comment.h"
#include "image/file_names.h"
#include "movie/avi_streams.h"
#include "movie/movie_boxes.h"
#include "platform/movie_graph.h"
#include "core/viewer_state.h"
#include "stereo/movie_frame.h"
#include "stereo/present.h"
#include "stereo/row_bands.h"
#include "stereo/stereo_format.h"

const char kMovieUsage[] =
    "  duoramic-cli info MOVIE [RIGHTMOVIE] [--json]\n"
    "  duoramic-cli movie FILE [RIGHTFILE] [--format CODE|NAME] [--size WxH]\n"
    "      [--screen WxH] [--swap] [--width-mode N] [--float N]\n"
    "      [--comment on|off] [--rgb] [--interval MS] [--start SECONDS]\n"
    "      [--frames N] [-o DIR] [--bench]\n";

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMaxSide = 16384;
// A movie that neither ends nor delivers for this long has stalled.
constexpr auto kStallWait = std::chrono::seconds(30);

int UsageError(const std::string& message) {
  std::fprintf(stderr, "duoramic-cli: %s\nusage:\n%s", message.c_str(),
               kMovieUsage);
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

bool ParseSize(const std::string& text, int& width, int& height) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  std::string_view all(text);
  return ParseInt(all.substr(0, x), width) && ParseInt(all.substr(x + 1), height) &&
         width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide;
}

std::string Reason(const GraphBuildResult& result) {
  switch (result.failure) {
    case GraphFailure::MissingDecoder:
      return "no decoder for this movie (or for both of its views)";
    case GraphFailure::MismatchedInputs:
      return "Cannot find an acceptable media type.";
    case GraphFailure::Step: {
      std::string text = result.text;
      if (!text.empty() && text.back() == '\n') text.pop_back();
      return text;
    }
    case GraphFailure::None:
      break;
  }
  return "cannot be played";
}

// Waits for the end of the movie, an error, or `done`.
struct Finish {
  std::mutex lock;
  std::condition_variable changed;
  bool done = false;
  Clock::time_point lastFrame = Clock::now();
  void Signal() {
    std::lock_guard guard(lock);
    changed.notify_all();
  }
};

// The whole process's processor time, every thread's, in seconds.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Plays the graph to its end (or until `finish.done`).  Empty when it got
// there; else why playback stopped (an error, a stall).
std::string PlayThrough(MovieGraph& graph, Finish& finish) {
  if (!graph.Run()) return "the movie would not start playing";
  std::unique_lock guard(finish.lock);
  while (!finish.done) {
    finish.changed.wait_for(guard, std::chrono::milliseconds(200));
    if (finish.done) break;
    guard.unlock();
    for (int event : graph.TakeEvents()) {
      if (event == kGraphErrorAbort) {
        std::string text = graph.ErrorText();
        return text.empty() ? "the movie stopped on an error" : text;
      }
      if (event == kGraphEndOfStream) finish.done = true;
    }
    guard.lock();
    if (Clock::now() - finish.lastFrame > kStallWait)
      return "no frame and no end for " +
             std::to_string(kStallWait.count()) + " seconds";
  }
  return {};
}

struct MovieOptions {
  std::string file, rightFile, outDir;
  const StereoFormatEntry* format = nullptr;
  int width = 0, height = 0, screenWidth = 1920, screenHeight = 1080;
  bool swap = false, commentOn = true, rgb = false, bench = false;
  int widthMode = 0, floatOffset = 0, interval = 30, frames = 0;
  double start = 0;
};

int ParseMovieOptions(const std::vector<std::string>& args, MovieOptions& o) {
  bool sizeGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string v;
    bool takesValue = a == "--format" || a == "--size" || a == "--screen" ||
                      a == "--width-mode" || a == "--float" ||
                      a == "--comment" || a == "--interval" || a == "--start" ||
                      a == "--frames" || a == "-o";
    if (takesValue) {
      if (i + 1 >= args.size()) return UsageError(a + " needs a value");
      v = args[++i];
    }
    if (a == "--format") {
      o.format = FindStereoFormatByName(v);
      if (!o.format) return UsageError("unknown format \"" + v + "\"");
    } else if (a == "--size") {
      if (!ParseSize(v, o.width, o.height)) return UsageError("bad --size " + v);
      sizeGiven = true;
    } else if (a == "--screen") {
      if (!ParseSize(v, o.screenWidth, o.screenHeight))
        return UsageError("bad --screen " + v);
    } else if (a == "--width-mode") {
      if (!ParseInt(v, o.widthMode) ||
          (o.widthMode != 0 && o.widthMode != 4 && o.widthMode != 5 &&
           o.widthMode != 6))
        return UsageError("--width-mode takes 0, 4, 5 or 6");
    } else if (a == "--float") {
      if (!ParseInt(v, o.floatOffset) || o.floatOffset < -100 || o.floatOffset > 100)
        return UsageError("--float takes a step count from -100 to 100");
    } else if (a == "--comment") {
      if (v != "on" && v != "off") return UsageError("--comment takes on or off");
      o.commentOn = v == "on";
    } else if (a == "--interval") {
      if (!ParseInt(v, o.interval) || o.interval < 1 || o.interval > 100000)
        return UsageError("--interval takes milliseconds from 1 to 100000");
    } else if (a == "--frames") {
      if (!ParseInt(v, o.frames) || o.frames < 1)
        return UsageError("--frames takes a count from 1");
    } else if (a == "--start") {
      auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), o.start);
      if (error != std::errc() || end != v.data() + v.size() || o.start < 0)
        return UsageError("--start takes seconds from 0");
    } else if (a == "-o") {
      o.outDir = v;
    } else if (a == "--swap") {
      o.swap = true;
    } else if (a == "--rgb") {
      o.rgb = true;
    } else if (a == "--bench") {
      o.bench = true;
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
  if (!sizeGiven) {
    o.width = o.screenWidth;
    o.height = o.screenHeight;
  }
  if (!o.outDir.empty() && o.frames == 0) o.frames = 100000000;
  return 0;
}

MovieGraphOptions GraphOptions(bool rgb, int interval) {
  MovieGraphOptions options;
  options.forceRgb = rgb;
  options.paced = false;
  options.intervalMs = [interval] { return interval; };
  options.parallaxX = [] { return ParallaxShiftX; };
  options.parallaxY = [] { return ParallaxShiftY; };
  return options;
}

// The maker note's parallax of a single AVI, as the viewer takes it.
AviStreamInfo ReadParallax(const std::string& file, const std::string& right) {
  ParallaxShiftX = ParallaxShiftY = 0;
  AviStreamInfo info;
  if (right.empty()) {
    info = CountVideoStreams(file, 0, 0);
    ParallaxShiftX = info.parallaxX;
    ParallaxShiftY = info.parallaxY;
  }
  return info;
}

}  // namespace

bool IsMovieInfo(const std::vector<std::string>& args) {
  return args.size() >= 2 && args[0] == "info" &&
         FileKindMatches(args[1], MovieKind) != 0;
}

// The frames as the file holds them: info reports the file's frame size.
static MovieGraphOptions InfoOptions() {
  MovieGraphOptions options = GraphOptions(false, 30);
  options.sideBySideViews = false;
  return options;
}

int RunMovieInfoCommand(const std::vector<std::string>& args) {
  std::string file, right;
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--json") json = true;
    else if (!a.empty() && a[0] == '-') return UsageError("unknown option " + a);
    else if (file.empty()) file = a;
    else if (right.empty()) right = a;
    else return UsageError("at most two files");
  }
  if (file.empty()) return UsageError("no file given");
  AviStreamInfo avi = ReadParallax(file, right);
  std::mutex lock;
  int width = 0, height = 0;
  GraphBuildResult result;
  auto graph = BuildMovieGraph(
      file, right, InfoOptions(),
      [&](const GrabbedFrame& f, int64_t) {
        std::lock_guard guard(lock);
        if (width == 0) {
          width = f.width;
          height = f.height;
        }
      },
      nullptr, result);
  if (!graph) return Fail(file, Reason(result));
  int64_t frameNs = graph->FrameDurationNs();
  double fps = frameNs > 0 ? 1e9 / static_cast<double>(frameNs) : 0;
  int64_t duration = graph->DurationNs();
  long long durationMs = duration > 0 ? duration / 1000000 : 1000;
  int streams = right.empty() ? std::max(avi.videoStreams, 1) : 2;
  MovieShape movieShape = graph->Shape();
  const char* shape = MovieShapeName(movieShape);
  bool rightFirst = graph->RightFirst();
  MovieBoxes boxes;
  if (right.empty()) ReadMovieBoxes(file, boxes);
  std::lock_guard guard(lock);
  // One view's size: a spatial video's frame is its left eye whole.
  int viewWidth = width, viewHeight = height;
  if (movieShape == MovieShape::OverUnder) viewHeight = height / 2;
  else if (movieShape != MovieShape::MvHevc) viewWidth = width / 2;
  const char* projection = MovieProjectionName(boxes.projection);
  double hfov = boxes.HorizontalFovDeg(), vfov = boxes.VerticalFovDeg();
  std::string spatial;  // the eye boxes' values a spatial video gave
  if (movieShape == MovieShape::MvHevc) {
    const SpatialVideoBoxes& v = boxes.spatial;
    auto add = [&](const char* name, const std::string& value) {
      spatial += std::string(json ? ", \"" : "\n") + name + (json ? "\": " : ": ") + value;
    };
    auto flag = [](bool b) { return std::string(b ? "true" : "false"); };
    if (v.hasLeft) add("has_left_eye", flag(*v.hasLeft));
    if (v.hasRight) add("has_right_eye", flag(*v.hasRight));
    if (v.hasLeft || v.hasRight) add("eye_views_reversed", flag(v.viewsReversed));
    if (v.heroEye) add("hero_eye", *v.heroEye == 1 ? "\"left\"" : *v.heroEye == 2 ? "\"right\"" : "\"none\"");
    if (v.baselineUm) add("baseline_um", std::to_string(*v.baselineUm));
    if (v.disparity) add("disparity_adjustment", std::to_string(*v.disparity));
    if (v.hfovMilli) {
      char fov[32];
      std::snprintf(fov, sizeof fov, "%.3f", *v.hfovMilli / 1000.0);
      add("camera_horizontal_fov_deg", fov);
    }
  }
  if (json) {
    std::printf("{\"file\": %s, \"shape\": \"%s\", \"right_first\": %s, "
                "\"width\": %d, \"height\": %d, \"view_width\": %d, "
                "\"view_height\": %d, \"fps\": %.3f, \"duration_ms\": %lld, "
                "\"video_streams\": %d, \"parallax_x\": %d, \"parallax_y\": %d, "
                "\"projection\": \"%s\"",
                JsonString(file).c_str(), shape, rightFirst ? "true" : "false",
                width, height, viewWidth, viewHeight, fps, durationMs, streams,
                ParallaxShiftX, ParallaxShiftY, projection);
    if (hfov > 0)
      std::printf(", \"horizontal_fov_deg\": %.3f, \"vertical_fov_deg\": %.3f", hfov, vfov);
    std::printf("%s}\n", spatial.c_str());
  } else {
    std::printf("file: %s\nshape: %s%s\nsize: %dx%d\nview size: %dx%d\nfps: %.3f\n"
                "duration: %lld ms\nvideo streams: %d\nparallax shift: %d, %d\n"
                "projection: %s\n",
                file.c_str(), shape, rightFirst ? " (right view first)" : "", width,
                height, viewWidth, viewHeight, fps, durationMs, streams,
                ParallaxShiftX, ParallaxShiftY, projection);
    if (hfov > 0) std::printf("field of view: %.3f x %.3f degrees\n", hfov, vfov);
    if (!spatial.empty()) std::printf("%s\n", spatial.c_str() + 1);
  }
  if (boxes.stereoMode == BoxStereoMode::Custom)
    std::fprintf(stderr, "%s: a custom stereo layout (st3d mode 3) is shown "
                 "side by side\n", file.c_str());
  if (!boxes.problem.empty() && boxes.isoFile)
    std::fprintf(stderr, "%s: %s (ignored)\n", file.c_str(), boxes.problem.c_str());
  return 0;
}

int RunMovieCommand(const std::vector<std::string>& args) {
  MovieOptions o;
  if (int status = ParseMovieOptions(args, o)) return status;
  if (!o.outDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(o.outDir, error);
    if (error) return Fail(o.outDir, error.message());
  }
  Viewer.CommentOn = o.commentOn;
  Viewer.FloatOffset = o.floatOffset;
  if (o.format) Viewer.StereoType = o.format->code;
  Viewer.SwapLR = o.swap;
  Viewer.WidthMode = o.widthMode;
  Viewer.FitToWindow = true;
  Viewer.nRGB = o.rgb;
  Viewer.nInterval = o.interval;
  Viewer.MovieOpen = true;
  SetClientSize(o.width, o.height);
  ReadParallax(o.file, o.rightFile);
  ResetMovieFrameState();
  CreateMarkerStrip();

  Finish finish;
  const int64_t startNs = static_cast<int64_t>(o.start * 1e9);
  // Before the seek the pipeline shows its first frame; frames before the
  // start are not the movie's output.
  const int64_t earliestNs = startNs - 1000000;
  long frames = 0, presented = 0;
  Clock::duration presenting{};
  int64_t presentingCpuNs = 0;
  std::string writeError;
  auto sink = [&](const GrabbedFrame& f, int64_t positionNs) {
    if (positionNs < earliestNs) return;
    std::lock_guard guard(finish.lock);
    finish.lastFrame = Clock::now();
    if (finish.done) return;
    ++frames;
    auto before = Clock::now();
    int64_t cpuBefore = ThreadCpuNs();
    if (PresentGrabbedFrame(f) == 0) ++presented;
    presentingCpuNs += ThreadCpuNs() - cpuBefore;
    presenting += Clock::now() - before;
    // The PNG reads the framebuffer; the grabbed frame, whose pixels are
    // lent for this call only, is cleared before the lock goes.
    PresentationLock presentation(Presentation.lock);
    if (!o.outDir.empty() && writeError.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "/frame-%04ld.png", frames);
      if (!WriteFramebufferPng(Presentation.frame, o.outDir + name, writeError))
        writeError = o.outDir + name + ": " + writeError;
    }
    if ((o.frames > 0 && frames >= o.frames) || !writeError.empty())
      finish.done = true;
    SetGrabbedFrame(GrabbedFrame{});
    finish.changed.notify_all();
  };
  GraphBuildResult result;
  auto graph = BuildMovieGraph(o.file, o.rightFile, GraphOptions(o.rgb, o.interval),
                               sink, [&finish] { finish.Signal(); }, result);
  if (!graph) return Fail(o.file, Reason(result));
  if (o.start > 0 && !graph->Seek(startNs)) return Fail(o.file, "cannot seek");
  auto began = Clock::now();
  {
    // Frames already shown while prerolling count from here.
    std::lock_guard guard(finish.lock);
    if (o.bench) frames = presented = 0, presenting = {}, presentingCpuNs = 0;
  }
  const int64_t helperBefore = RowBandHelperCpuNs();
  const double processBefore = ProcessCpuSeconds();
  std::string stopped = PlayThrough(*graph, finish);
  double wall = std::chrono::duration<double>(Clock::now() - began).count();
  double processCpu = ProcessCpuSeconds() - processBefore;
  double presentingCpu =
      double(presentingCpuNs + RowBandHelperCpuNs() - helperBefore) / 1e9;
  graph.reset();
  FreeMarkerStrip();
  ResetMovieFrameState();
  if (!writeError.empty()) return Fail(o.outDir, writeError);
  // Frames already written do not make a broken movie a success.
  if (!stopped.empty()) {
    if (frames == 0) return Fail(o.file, "playback failed: " + stopped);
    return Fail(o.file, "playback stopped after " + std::to_string(frames) +
                            " frames: " + stopped);
  }
  if (o.bench) {
    double share = std::chrono::duration<double>(presenting).count() / wall;
    std::printf("frames: %ld\nseconds: %.3f\ndecoded fps: %.2f\n"
                "presented fps: %.2f\npresentation share: %.1f %%\n"
                "presentation cpu share: %.1f %%\n",
                frames, wall, frames / wall, presented / wall, share * 100,
                processCpu > 0 ? presentingCpu / processCpu * 100 : 0.0);
  }
  return 0;
}

// GLib leaks its first quark block by design once a program has made more
// than 2048 quarks, as a process with GStreamer's plugins loaded does;
// sanitizer builds are told so (other builds never call this).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libglib-2.0.so\n";
}
