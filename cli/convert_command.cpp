#include "cli/convert_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>
#include <thread>
#include <utility>

#include "cli/render.h"
#include "cli/still_views.h"
#include "cli/stereo_output.h"
#include "image/ascii_case.h"
#include "image/exif_copy.h"
#include "image/file_names.h"
#include "image/still_reader.h"
#include "core/viewer_state.h"
#include "slideshow/list_messages.h"
#include "slideshow/list_reader.h"
#include "stereo/stereo_format.h"

extern char** environ;

const char kConvertUsage[] =
    "  duoramic-cli convert FILE|FOLDER|LIST.txt... --format CODE|NAME -o DIR\n"
    "      [--jobs N] [render options: --size --screen --swap --width-mode\n"
    "      --zoom --float --comment --help-overlay --smooth]\n"
    "  duoramic-cli convert FILE|FOLDER... --to mpo|jps|pns -o DIR [--jobs N]\n";

namespace fs = std::filesystem;

namespace {

constexpr const char* kPictureExtensions[] = {
    ".mpo", ".jps", ".pns", ".jpg", ".jpeg", ".png",
    ".tif", ".tiff", ".gif", ".bmp"};

bool IsPictureName(std::string_view name) {
  for (const char* ext : kPictureExtensions)
    if (EndsWithIgnoringCase(name, ext)) return true;
  return false;
}

// Render options passed through to every item; the first set take a value.
const std::set<std::string> kValueOptions = {"--size", "--screen",
                                             "--width-mode", "--zoom",
                                             "--float", "--comment"};
const std::set<std::string> kFlagOptions = {"--swap", "--help-overlay",
                                            "--smooth"};

// List warnings become the reason the list is unusable.
class CollectingSink : public ListMessageSink {
 public:
  void ListWarning(std::string_view, std::string_view text,
                   std::string_view) override {
    reason.assign(text);
  }
  std::string reason;
};

// Files by identity (device and inode), so that one file is known under
// any of its names: "./a.png" and "a.png", a symbolic link, a hard link.
class FileIdentities {
 public:
  // The file `path` names, and the link itself when it is a symbolic link.
  void Add(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) ids_.insert({st.st_dev, st.st_ino});
    if (::lstat(path.c_str(), &st) == 0) ids_.insert({st.st_dev, st.st_ino});
  }
  // Whether `path` (or the file a link there points at) is one of them.
  bool Holds(const std::string& path) const {
    struct stat st;
    return (::stat(path.c_str(), &st) == 0 &&
            ids_.count({st.st_dev, st.st_ino})) ||
           (::lstat(path.c_str(), &st) == 0 &&
            ids_.count({st.st_dev, st.st_ino}));
  }

 private:
  std::set<std::pair<dev_t, ino_t>> ids_;
};

// Output names: unique within the batch, and never a name under which an
// input (a picture, a list, a file a list names) is found.
class OutputNames {
 public:
  OutputNames(std::string dir, const FileIdentities& inputs,
              std::string extension)
      : dir_(std::move(dir)), inputs_(inputs),
        extension_(std::move(extension)) {}
  std::string Take(const std::string& stem) {
    std::string name = stem;
    for (int n = 2; !Free(name); ++n) name = stem + "-" + std::to_string(n);
    used_.insert(name);
    return Path(name);
  }

 private:
  std::string Path(const std::string& name) const {
    return (fs::path(dir_) / (name + extension_)).string();
  }
  bool Free(const std::string& name) const {
    return !used_.count(name) && !inputs_.Holds(Path(name));
  }
  std::string dir_;
  const FileIdentities& inputs_;
  std::string extension_;
  std::set<std::string> used_;
};

// Reads the list quietly: its messages become the reason it is unusable.
bool ReadListQuietly(const std::string& list, std::string& reason) {
  CollectingSink sink;
  ListMessageSink& previous = CurrentListMessageSink();
  SetListMessageSink(&sink);
  bool isList = ReadListSettings(list) == 1;
  SetListMessageSink(&previous);
  reason = sink.reason;
  return isList;
}

// The files the entries of a list show.
void AddListFiles(const std::string& list, FileIdentities& inputs) {
  std::string reason;
  if (!ReadListQuietly(list, reason)) return;
  CollectingSink sink;
  ListMessageSink& previous = CurrentListMessageSink();
  SetListMessageSink(&sink);
  std::string folder = ListFolderOf(list);
  int count = Viewer.ItemCount;
  // One record for the whole list, as the viewer reads it: an entry without
  // names keeps the previous ones.
  ListEntry entry;
  for (int i = 0; i < count; ++i) {
    if (!ReadListEntry(list, i, entry)) continue;
    inputs.Add(ResolveListName(folder, entry.EntryLeftName));
    inputs.Add(ResolveListName(folder, entry.EntryRightName));
  }
  SetListMessageSink(&previous);
}

void AddListEntries(const std::string& list, OutputNames& names,
                    const std::vector<std::string>& options,
                    std::vector<ConvertJob>& jobs,
                    std::vector<std::string>& unusable) {
  std::string reason;
  if (!ReadListQuietly(list, reason)) {
    unusable.push_back(list + ": " +
                       (reason.empty() ? "not a slideshow list" : reason));
    return;
  }
  int count = Viewer.ItemCount;
  std::string stem = fs::path(list).stem().string();
  int digits = static_cast<int>(std::to_string(count).size());
  for (int n = 1; n <= count; ++n) {
    std::string number = std::to_string(n);
    number.insert(0, digits - number.size(), '0');
    ConvertJob job;
    job.label = list + " #" + std::to_string(n);
    job.renderArgs = {list, "--item", std::to_string(n)};
    job.renderArgs.insert(job.renderArgs.end(), options.begin(), options.end());
    job.renderArgs.insert(job.renderArgs.end(),
                          {"-o", names.Take(stem + "-" + number)});
    jobs.push_back(std::move(job));
  }
}

// What one output is made from: a file, or the two files of a pair.
struct ConvertItem {
  std::string left;
  std::string right;  // empty unless a pair
};

// A file that holds one view: the partner of a pair, as the viewer takes
// it.  JPS, PNS and MPO files hold both views and never pair.
bool HoldsOneView(const std::string& path) {
  return !FileKindMatches(path, MpoKind) &&
         !EndsWithIgnoringCase(path, ".jps") &&
         !EndsWithIgnoringCase(path, ".pns") &&
         !EndsWithIgnoringCase(path, ".txt");
}

// Whether the letter that names the eye (just before the last dot) is L.
bool NamesLeftEye(const std::string& path, const std::string& partner) {
  size_t dot = path.rfind('.');
  return dot != std::string::npos && dot > 0 && partner.size() == path.size() &&
         (path[dot - 1] == 'L' || path[dot - 1] == 'l');
}

// One group of inputs (a folder's files, or the files named on the command
// line) as items: scene_L.jpg with scene_R.jpg beside it is one pair, as
// the viewer opens them; every other file is an item of its own.
void AddItems(const std::vector<std::string>& files,
              std::vector<ConvertItem>& items) {
  std::set<std::string> present(files.begin(), files.end()), rights;
  std::map<std::string, std::string> rightOf;
  for (const std::string& file : files) {
    std::string partner;
    if (HoldsOneView(file) && PartnerName(file, partner) &&
        NamesLeftEye(file, partner) && present.count(partner) &&
        !rightOf.count(partner) && !rights.count(file)) {
      rightOf[file] = partner;
      rights.insert(partner);
    }
  }
  // In the input order, a pair where its left file was.
  for (const std::string& file : files) {
    auto pair = rightOf.find(file);
    if (pair != rightOf.end()) items.push_back({file, pair->second});
    else if (!rights.count(file)) items.push_back({file, {}});
  }
}

}  // namespace

std::vector<ConvertJob> PlanConversion(
    const std::vector<std::string>& inputs, const std::string& outDir,
    const std::vector<std::string>& renderOptions,
    std::vector<std::string>& unusable, const std::string& extension) {
  std::vector<ConvertItem> items;
  std::vector<std::string> named;  // the files given by name
  for (const std::string& input : inputs) {
    std::error_code error;
    if (fs::is_directory(input, error)) {
      std::vector<std::string> found;
      for (const auto& e : fs::directory_iterator(input, error))
        if (e.is_regular_file(error) &&
            IsPictureName(e.path().filename().string()))
          found.push_back(e.path().string());
      std::sort(found.begin(), found.end());
      if (found.empty()) unusable.push_back(input + ": no pictures in folder");
      std::vector<ConvertItem> folderItems;
      AddItems(found, folderItems);
      items.insert(items.end(), folderItems.begin(), folderItems.end());
    } else if (!fs::exists(input, error)) {
      unusable.push_back(input + ": no such file");
    } else {
      named.push_back(input);
    }
  }
  // Two one-view files given on their own are the left and the right view,
  // whatever their names, as `render FILE RIGHTFILE` takes them.
  std::vector<ConvertItem> namedItems;
  if (inputs.size() == 2 && named.size() == 2 && HoldsOneView(named[0]) &&
      HoldsOneView(named[1]))
    namedItems.push_back({named[0], named[1]});
  else
    AddItems(named, namedItems);
  items.insert(items.end(), namedItems.begin(), namedItems.end());
  // Every input is known before the first output is named: an output must
  // not take the name of an input that comes later.
  FileIdentities inputFiles;
  for (const ConvertItem& ci : items) {
    const std::string& item = ci.left;
    inputFiles.Add(item);
    if (!ci.right.empty()) inputFiles.Add(ci.right);
    if (EndsWithIgnoringCase(item, ".txt")) AddListFiles(item, inputFiles);
  }
  OutputNames names(outDir, inputFiles, extension);
  // Stereo files are written from files that hold both views; a list's
  // entries are shown, screen-fitted, and have no such file to convert.
  bool stereoFiles = extension != ".png";
  std::vector<ConvertJob> jobs;
  for (const ConvertItem& ci : items) {
    const std::string& item = ci.left;
    if (stereoFiles && EndsWithIgnoringCase(item, ".txt")) {
      unusable.push_back(item + ": slideshow lists are rendered (--format), "
                                "not written as stereo files");
      continue;
    }
    if (EndsWithIgnoringCase(item, ".txt")) {
      AddListEntries(item, names, renderOptions, jobs, unusable);
      continue;
    }
    ConvertJob job;
    job.label = ci.right.empty() ? item : item + " + " + ci.right;
    job.renderArgs = {item};
    if (!ci.right.empty()) job.renderArgs.push_back(ci.right);
    job.renderArgs.insert(job.renderArgs.end(), renderOptions.begin(),
                          renderOptions.end());
    job.renderArgs.insert(job.renderArgs.end(),
                          {"-o", names.Take(fs::path(item).stem().string())});
    jobs.push_back(std::move(job));
  }
  return jobs;
}

namespace {

struct Running {
  size_t job;
  pid_t pid;
  int errFd;
  std::string errors;
};

// The worker: `render` refuses nothing it can open (the viewer shows an
// unreadable picture as black), while a batch must report such a file, so
// each picture the item shows is read once before rendering.
bool Unreadable(const std::string& path) {
  StillDecode decoded = DecodeStill(path);
  if (decoded.picture) return false;
  std::fprintf(stderr, "duoramic-cli: %s: cannot read: %s\n", path.c_str(),
               decoded.failure.c_str());
  return true;
}

// One view from each file of a pair.
bool LoadPairViews(const std::string& leftFile, const std::string& rightFile,
                   StillViews& views, std::string& reason) {
  for (const std::string* file : {&leftFile, &rightFile}) {
    StillDecode decoded = DecodeStill(*file);
    if (!decoded.picture) {
      reason = *file + ": " + decoded.failure;
      return false;
    }
    (file == &leftFile ? views.left : views.right) = std::move(decoded.picture);
  }
  return true;
}

// A stereo file written from the item's two full-size views, with the
// camera's Exif of the (left) file.
int WriteStereoWorker(const std::string& item, const std::string& rightFile,
                      const std::string& out) {
  StillViews views;
  std::string reason;
  bool loaded = rightFile.empty()
                    ? LoadStillViews(item, views, reason, /*wantWhole=*/false)
                    : LoadPairViews(item, rightFile, views, reason);
  if (!loaded) {
    std::fprintf(stderr, "duoramic-cli: %s: %s\n", item.c_str(), reason.c_str());
    return 1;
  }
  std::vector<std::string> inputs = {item};
  if (!rightFile.empty()) inputs.push_back(rightFile);
  if (!WriteStereoFile(views.left, views.right, out, inputs, reason,
                       FindExifInFile(item))) {
    std::fprintf(stderr, "duoramic-cli: %s: %s\n", out.c_str(), reason.c_str());
    return 1;
  }
  return 0;
}

int RunWorker(const std::vector<std::string>& renderArgs) {
  const std::string& item = renderArgs.at(0);
  if (renderArgs.size() == 5 && renderArgs[1] == "--to")
    return WriteStereoWorker(item, {}, renderArgs[4]);
  if (renderArgs.size() == 6 && renderArgs[2] == "--to")
    return WriteStereoWorker(item, renderArgs[1], renderArgs[5]);
  if (renderArgs.size() > 2 && renderArgs[1] == "--item") {
    ListEntry entry;
    int number = std::atoi(renderArgs[2].c_str());
    if (ReadListSettings(item) == 1 && number >= 1 &&
        ReadListEntry(item, number - 1, entry)) {
      std::string folder = ListFolderOf(item);
      std::string left = ResolveListName(folder, entry.EntryLeftName);
      bool still = !(entry.EntryKind >= 30 && entry.EntryKind <= 39) &&
                   !FileKindMatches(left, MovieKind);
      // Movies and 360-degree entries: render gives the reason.
      if (still && Unreadable(left)) return 1;
      if (still && entry.EntryKind == 11 &&
          Unreadable(ResolveListName(folder, entry.EntryRightName)))
        return 1;
    }
  } else if (Unreadable(item)) {
    return 1;
  } else if (renderArgs.size() > 1 && !renderArgs[1].empty() &&
             renderArgs[1][0] != '-' && Unreadable(renderArgs[1])) {
    return 1;  // the right file of a pair
  }
  return RunRenderCommand(renderArgs);
}

bool Spawn(const std::string& self, const ConvertJob& job, Running& run) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  std::vector<std::string> args = {"duoramic-cli", "convert", "--worker"};
  args.insert(args.end(), job.renderArgs.begin(), job.renderArgs.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int status = posix_spawn(&run.pid, self.c_str(), &actions, nullptr,
                           argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (status != 0) {
    close(fds[0]);
    return false;
  }
  run.errFd = fds[0];
  return true;
}

// The child's own message, without the program's prefix.
std::string ReasonOf(const std::string& errors, int status) {
  std::string last;
  size_t start = 0;
  while (start < errors.size()) {
    size_t end = errors.find('\n', start);
    if (end == std::string::npos) end = errors.size();
    if (end > start) last = errors.substr(start, end - start);
    start = end + 1;
  }
  if (WIFSIGNALED(status))
    return "crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
  const std::string prefix = "duoramic-cli: ";
  if (last.rfind(prefix, 0) == 0) last.erase(0, prefix.size());
  return last.empty() ? "failed" : last;
}

class Progress {
 public:
  explicit Progress(size_t total) : total_(total), tty_(isatty(2)) {}
  void Done(const std::string& label, const std::string& out, bool ok,
            const std::string& reason) {
    ++done_;
    if (!tty_) {
      if (ok)
        std::fprintf(stderr, "[%zu/%zu] %s -> %s\n", done_, total_,
                     label.c_str(), out.c_str());
      else
        std::fprintf(stderr, "[%zu/%zu] FAILED %s\n", done_, total_,
                     reason.c_str());
      return;
    }
    // Failures stay on their own line above the bar.
    if (!ok) std::fprintf(stderr, "\r\033[KFAILED %s\n", reason.c_str());
    constexpr size_t kWidth = 30;
    size_t filled = total_ ? done_ * kWidth / total_ : kWidth;
    std::string bar(filled, '#');
    bar.resize(kWidth, '.');
    std::fprintf(stderr, "\r\033[K[%s] %zu/%zu %s", bar.c_str(), done_, total_,
                 fs::path(label).filename().c_str());
    if (done_ == total_) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  size_t total_, done_ = 0;
  bool tty_;
};

int ConvertUsage(const std::string& message) {
  std::fprintf(stderr, "duoramic-cli convert: %s\nusage:\n%s", message.c_str(),
               kConvertUsage);
  return 2;
}

}  // namespace

int RunConvertCommand(const std::vector<std::string>& args,
                      const std::string& selfPath) {
  if (!args.empty() && args[0] == "--worker")
    return args.size() > 1 ? RunWorker({args.begin() + 1, args.end()}) : 2;
  std::vector<std::string> inputs, options;
  std::string outDir;
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  bool formatGiven = false;
  std::string stereoKind;  // mpo, jps or pns: --to
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool takesValue = a == "--format" || a == "-o" || a == "--jobs" ||
                      a == "--to" ||
                      kValueOptions.count(a);
    if (takesValue && i + 1 >= args.size()) return ConvertUsage(a + " needs a value");
    if (a == "--format") {
      if (!FindStereoFormatByName(args[i + 1]))
        return ConvertUsage("unknown format \"" + args[i + 1] + "\"");
      options.insert(options.end(), {a, args[++i]});
      formatGiven = true;
    } else if (a == "--to") {
      stereoKind = args[++i];
      if (stereoKind != "mpo" && stereoKind != "jps" && stereoKind != "pns")
        return ConvertUsage("--to takes mpo, jps or pns");
    } else if (a == "-o") {
      outDir = args[++i];
    } else if (a == "--jobs") {
      jobs = std::atoi(args[++i].c_str());
      if (jobs < 1 || jobs > 64) return ConvertUsage("--jobs takes 1 to 64");
    } else if (kValueOptions.count(a)) {
      options.insert(options.end(), {a, args[++i]});
    } else if (kFlagOptions.count(a)) {
      options.push_back(a);
    } else if (!a.empty() && a[0] == '-') {
      return ConvertUsage("unknown option " + a);
    } else {
      inputs.push_back(a);
    }
  }
  if (inputs.empty()) return ConvertUsage("no files given");
  if (!stereoKind.empty() && (formatGiven || !options.empty()))
    return ConvertUsage("--to writes the views as they are: no --format or "
                        "render options");
  if (stereoKind.empty() && !formatGiven)
    return ConvertUsage("--format or --to is required");
  if (outDir.empty()) return ConvertUsage("-o DIR is required");
  std::error_code error;
  fs::create_directories(outDir, error);
  if (!fs::is_directory(outDir)) {
    std::fprintf(stderr, "duoramic-cli: %s: cannot create the folder\n",
                 outDir.c_str());
    return 1;
  }

  std::vector<std::string> failures;
  std::string extension = ".png";
  if (!stereoKind.empty()) {
    extension = "." + stereoKind;
    options = {"--to", stereoKind};
  }
  std::vector<ConvertJob> plan =
      PlanConversion(inputs, outDir, options, failures, extension);
  for (const std::string& f : failures) std::fprintf(stderr, "skipped %s\n", f.c_str());
  Progress progress(plan.size());
  std::vector<Running> running;
  size_t next = 0;
  size_t converted = 0;
  bool usageError = false;
  while (next < plan.size() || !running.empty()) {
    while (!usageError && next < plan.size() &&
           running.size() < static_cast<size_t>(jobs)) {
      Running run{next, 0, -1, {}};
      if (Spawn(selfPath, plan[next], run)) {
        running.push_back(std::move(run));
      } else {
        failures.push_back(plan[next].label + ": cannot start a render");
        progress.Done(plan[next].label, "", false, failures.back());
      }
      ++next;
    }
    if (running.empty()) break;
    std::vector<pollfd> fds;
    for (const Running& r : running) fds.push_back({r.errFd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    for (size_t k = fds.size(); k-- > 0;) {
      if (!fds[k].revents) continue;
      Running& r = running[k];
      char buffer[4096];
      ssize_t n = read(r.errFd, buffer, sizeof buffer);
      if (n > 0) {
        if (r.errors.size() < (1u << 20)) r.errors.append(buffer, size_t(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      close(r.errFd);
      int status = 0;
      waitpid(r.pid, &status, 0);
      const ConvertJob& job = plan[r.job];
      bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      if (WIFEXITED(status) && WEXITSTATUS(status) == 2) {
        // A render option every item would refuse: stop here.
        std::fprintf(stderr, "%s", r.errors.c_str());
        usageError = true;
      }
      std::string reason;
      if (!ok) {
        reason = ReasonOf(r.errors, status);
        if (reason.rfind(job.label, 0) != 0) reason = job.label + ": " + reason;
      }
      if (ok) ++converted;
      else failures.push_back(reason);
      progress.Done(job.label, job.renderArgs.back(), ok, reason);
      running.erase(running.begin() + static_cast<long>(k));
    }
  }
  if (usageError) return 2;
  std::fprintf(stderr, "convert: %zu of %zu converted into %s",
               converted, plan.size(), outDir.c_str());
  if (failures.empty()) {
    std::fprintf(stderr, "\n");
    return 0;
  }
  std::fprintf(stderr, "; %zu failed:\n", failures.size());
  for (const std::string& f : failures) std::fprintf(stderr, "  %s\n", f.c_str());
  return 1;
}
