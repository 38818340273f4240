#include "cli/list_command.h"

#include <cstdio>
#include <string_view>

#include "cli/json_text.h"
#include "image/comment.h"
#include "core/viewer_state.h"
#include "slideshow/list_messages.h"
#include "slideshow/list_reader.h"

const char kListUsage[] = "  duoramic-cli list FILE.txt [--json]\n";

namespace {

// The viewer shows a message box; here the message goes to stderr.
class StderrSink : public ListMessageSink {
 public:
  void ListWarning(std::string_view caption, std::string_view text,
                   std::string_view listPath) override {
    std::fprintf(stderr, "duoramic-cli: %.*s: %.*s (%.*s)\n",
                 static_cast<int>(listPath.size()), listPath.data(),
                 static_cast<int>(text.size()), text.data(),
                 static_cast<int>(caption.size()), caption.data());
    warned = true;
  }
  bool warned = false;
};

struct ShownEntry {
  int number;
  bool found;
  ListEntry entry;
  std::string left, right, comment;
};

// Settings as ViewerState holds them after the read, under its field names.
struct IntSetting {
  const char* name;
  int value;
};

std::vector<IntSetting> IntSettings(int slideShowList) {
  return {{"SlideShowList", slideShowList},
          {"ItemCount", Viewer.ItemCount},
          {"SlideShowOn", Viewer.SlideShowOn},
          {"ListRepeat", Viewer.ListRepeat},
          {"MovieBgmStop", Viewer.MovieBgmStop},
          {"nEFType", Viewer.nEFType},
          {"StereoType", Viewer.StereoType},
          {"CommentOn", Viewer.CommentOn},
          {"CommentSize", Viewer.CommentSize},
          {"FloatOffset", Viewer.FloatOffset},
          {"nScreen", Viewer.nScreen},
          {"nDispW", Viewer.nDispW},
          {"nDispH", Viewer.nDispH}};
}

void PrintText(const std::string& file, int slideShowList,
               const std::vector<ShownEntry>& entries) {
  std::printf("list: %s\n", file.c_str());
  for (const IntSetting& s : IntSettings(slideShowList))
    std::printf("%s: %d\n", s.name, s.value);
  std::printf("FontFace: %s\nBgmPath: %s\n", Viewer.FontFace.c_str(),
              Viewer.BgmPath.c_str());
  for (const ShownEntry& e : entries) {
    std::printf(
        "%d: kind %d interval %d swap %d panorama %d width %d "
        "left %s right %s comment %s%s\n",
        e.number, e.entry.EntryKind, e.entry.EntryInterval, e.entry.EntrySwap,
        e.entry.EntryPanorama, e.entry.EntryWidth, JsonString(e.left).c_str(),
        JsonString(e.right).c_str(), JsonString(e.comment).c_str(),
        e.found ? "" : " (no line: the previous entry stays)");
  }
}

void PrintJsonString(const std::string& file, int slideShowList,
               const std::vector<ShownEntry>& entries) {
  std::printf("{\"file\": %s", JsonString(file).c_str());
  for (const IntSetting& s : IntSettings(slideShowList))
    std::printf(", \"%s\": %d", s.name, s.value);
  std::printf(", \"FontFace\": %s, \"BgmPath\": %s, \"entries\": [",
              JsonString(Viewer.FontFace).c_str(), JsonString(Viewer.BgmPath).c_str());
  for (size_t i = 0; i < entries.size(); ++i) {
    const ShownEntry& e = entries[i];
    std::printf(
        "%s{\"number\": %d, \"found\": %s, \"kind\": %d, "
        "\"interval\": %d, \"swap\": %d, \"panorama\": %d, "
        "\"width\": %d, \"left\": %s, \"right\": %s, \"comment\": %s}",
        i ? ", " : "", e.number, e.found ? "true" : "false", e.entry.EntryKind,
        e.entry.EntryInterval, e.entry.EntrySwap, e.entry.EntryPanorama,
        e.entry.EntryWidth, JsonString(e.left).c_str(), JsonString(e.right).c_str(),
        JsonString(e.comment).c_str());
  }
  std::printf("]}\n");
}

// The path the viewer would open; an empty name stays empty.
std::string Resolved(const std::string& folder, const std::string& name) {
  return name.empty() ? name : ResolveListName(folder, name);
}

}  // namespace

int RunListCommand(const std::vector<std::string>& args) {
  std::string file;
  bool json = false, usable = true;
  for (const std::string& a : args) {
    if (a == "--json")
      json = true;
    else if (file.empty() && !a.empty() && a[0] != '-')
      file = a;
    else
      usable = false;
  }
  if (!usable || file.empty()) {
    std::fprintf(stderr, "usage:\n%s", kListUsage);
    return 2;
  }
  StderrSink sink;
  SetListMessageSink(&sink);
  int slideShowList = ReadListSettings(file);
  std::string folder = ListFolderOf(file);
  // One record for the whole list, as the viewer keeps it: an entry without
  // a line of its own shows what the previous read left.
  ListEntry entry;
  std::vector<ShownEntry> entries;
  for (int i = 0; i < Viewer.ItemCount && !sink.warned; ++i) {
    ClearCurrentComment();
    bool found = ReadListEntry(file, i, entry);
    entries.push_back({i + 1, found, entry,
                       Resolved(folder, entry.EntryLeftName),
                       Resolved(folder, entry.EntryRightName), CurrentComment});
  }
  SetListMessageSink(nullptr);
  if (sink.warned) return 1;
  if (json)
    PrintJsonString(file, slideShowList, entries);
  else
    PrintText(file, slideShowList, entries);
  return 0;
}
