#include "cli/makelist_command.h"

#include <cstdio>
#include <filesystem>

#include "image/file_names.h"
#include "resources/string_table.h"
#include "slideshow/list_maker.h"

const char kMakeListUsage[] =
    "  duoramic-cli makelist LIST.txt FILE... [--pairs] [--right-folder DIR]\n"
    "      [--interval TENTHS] [--swap] [--comment TEXT] [--full-path] "
    "[--lower-case]\n"
    "                                         FILEs of one folder, or one "
    "FOLDER\n"
    "                                         for all its stereo files\n"
    "      --interval: the slideshow's interval in tenths of a second "
    "(30 = 3 s)\n";

namespace {

namespace fs = std::filesystem;

int Usage() {
  std::fputs("usage:\n", stderr);
  std::fputs(kMakeListUsage, stderr);
  return 2;
}

int Fail(const std::string& what, const std::string& reason) {
  std::fprintf(stderr, "duoramic-cli: %s: %s\n", what.c_str(), reason.c_str());
  return 1;
}

class StderrMessages : public ListMakerMessages {
 public:
  void Warning(std::string_view text, std::string_view caption) override {
    Print(text, caption);
  }
  void Notice(std::string_view text, std::string_view caption) override {
    // The tool says what it added in its own words, on standard output.
    if (caption == StringText(kMakerDoneCaptionString)) return;
    Print(text, caption);
  }

 private:
  static void Print(std::string_view text, std::string_view caption) {
    std::fprintf(stderr, "duoramic-cli: %.*s: %.*s\n",
                 static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
  }
};

bool ParseInterval(const std::string& text, unsigned& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = static_cast<unsigned>(std::stoul(text));
  return true;
}

std::string AbsoluteFolder(const std::string& path) {
  std::error_code error;
  fs::path absolute = fs::absolute(path, error);
  return WithTrailingSlash(absolute.lexically_normal().string());
}

}  // namespace

int RunMakeListCommand(const std::vector<std::string>& args) {
  ListMakerSettings settings;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string interval;
    bool ok = true;
    if (a == "--pairs") settings.inputForm = kPairFilesForm;
    else if (a == "--right-folder") ok = value(settings.rightFolder);
    else if (a == "--interval")
      ok = value(interval) && ParseInterval(interval, settings.interval);
    else if (a == "--swap") settings.swap = true;
    else if (a == "--comment") ok = value(settings.comment);
    else if (a == "--full-path") settings.fullPath = true;
    else if (a == "--lower-case") settings.lowerCase = true;
    else if (!a.empty() && a[0] == '-') ok = false;
    else if (settings.listPath.empty()) settings.listPath = a;
    else files.push_back(a);
    if (!ok) return Usage();
  }
  if (settings.listPath.empty() || files.empty()) return Usage();
  if (!settings.rightFolder.empty()) {
    if (settings.inputForm != kPairFilesForm) return Usage();
    if (!fs::is_directory(settings.rightFolder))
      return Fail(settings.rightFolder, "not a folder");
    settings.useRightFolder = true;
    // Right files are written with their full path.
    settings.rightFolder = AbsoluteFolder(settings.rightFolder);
  }

  std::string folder;
  std::vector<std::string> names;
  if (files.size() == 1 && fs::is_directory(files[0])) {
    folder = AbsoluteFolder(files[0]);
    names = ListMakerFolderFiles(folder, 1);
  } else {
    for (const std::string& file : files) {
      if (!fs::is_regular_file(file)) return Fail(file, "no such file");
      std::string its = AbsoluteFolder(FolderOf(file).empty() ? "." : FolderOf(file));
      if (!folder.empty() && its != folder)
        return Fail(file, "all files must be in one folder");
      folder = its;
      names.push_back(FileNameOf(file));
    }
  }
  StderrMessages messages;
  int added = AddListEntries(settings, folder, names, messages);
  if (added < 0) return 1;
  std::printf("%s: added %d of %d file%s\n", settings.listPath.c_str(), added,
              static_cast<int>(names.size()), names.size() == 1 ? "" : "s");
  return added == static_cast<int>(names.size()) ? 0 : 1;
}
