// The list maker's work without its window: turning the names the user
// picked into slideshow list entries and appending them to a list file,
// with the header block when the list is new.  The dialog and duoramic-cli
// both drive it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// String-table ids of the maker's texts.
constexpr int kMakerTitleString = 2675;         // the dialog title
constexpr int kMakerListFileTitleString = 2676; // the list file chooser
constexpr int kMakerNoListString = 2677;        // no list file named
constexpr int kMakerOddPairsString = 2678;      // odd number of pair files
constexpr int kMakerCannotCreateString = 2679;  // list cannot be written
constexpr int kMakerAddedString = 2680;         // "%d ... added"
constexpr int kMakerDoneCaptionString = 2682;   // caption of the count
constexpr int kMakerDeleteString = 2683;        // "really delete?"
constexpr int kMakerErrorCaptionString = 2505;  // "実行エラー"

// Input forms: each file one stereo file, or left and right in two files.
constexpr int kStereoFilesForm = 0;
constexpr int kPairFilesForm = 4;

// At most this many names are added in one go.
constexpr int kMakerNameLimit = 5000;

// The settings the panel (or the command line) hands over for one add.
struct ListMakerSettings {
  std::string listPath;
  int inputForm = kStereoFilesForm;
  bool useRightFolder = false;  // pairs: right files in `rightFolder`
  std::string rightFolder;
  unsigned interval = 0;        // tenths of a second; 0 = default at playback
  bool swap = false;
  std::string comment;
  bool fullPath = false;   // names with their folder
  bool lowerCase = false;  // names with ASCII capitals made small
};

// Where the maker's messages go: the dialog shows message boxes, the
// command line prints them.  `caption` is the box title.
class ListMakerMessages {
 public:
  virtual ~ListMakerMessages() = default;
  virtual void Warning(std::string_view text, std::string_view caption) = 0;
  virtual void Notice(std::string_view text, std::string_view caption) = 0;
};

// The names in the dialog's file-name box: "a.jpg" alone, or several in
// double quotes ("\"a.jpg\" \"b c.jpg\"").  Quotes switch quoting on and
// off; outside quotes a space ends a name.
std::vector<std::string> SplitQuotedNames(std::string_view text);

// The file kind (image/file_names.h) "add all" uses for the 1-based entry
// of the dialog's file-type list: 1 stereo files, 2 stills, 3 movies,
// anything else every ending.  The all-files kinds include MPO files.
int MakerKindOfFileType(int fileType);

// The files of `folder` of the kind MakerKindOfFileType(fileType) gives:
// regular, not empty, in the order the folder lists them.
std::vector<std::string> ListMakerFolderFiles(const std::string& folder,
                                              int fileType);

// `folder` with a trailing "/" (unless empty).
std::string WithTrailingSlash(std::string_view folder);

// Appends entries for `names` (file names in `folder`) to the list file of
// `settings`, first writing the header block when the file has fewer than
// two lines.  Messages go to `messages`: the refusals, a right file not
// found, the cut of an over-long name list and the final count.  Returns
// the number of files added, or -1 when nothing could be written.
int AddListEntries(const ListMakerSettings& settings, const std::string& folder,
                   std::vector<std::string> names, ListMakerMessages& messages);

// The fourteen lines a new list starts with.
extern const char* const kListHeaderLines[14];
