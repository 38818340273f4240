// File-name rules behind browsing and pair finding: which names belong to a
// file kind, the folder and file-name parts of a path, the other view's name
// of a left/right pair, and the sorted list of a folder's files of a kind.
//
// Paths are UTF-8.  Both "/" and "\" count as separators, because names come
// from this system and from lists written on Windows; neither byte can occur
// inside a multi-byte UTF-8 character, so scanning bytes for them never
// splits one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// File kinds: sets of name endings.  Other values than those below stand for
// every still and movie ending (MPO is not among them).
constexpr int StillKind = 1;  // JPG JPEG JPS GIF BMP PNG PNS TIF TIFF, not .VR.JPG
constexpr int MovieKind = 2;  // AVI QT MOV MPG MPEG M1V WMV MP4 MTS MKV WEBM
constexpr int MpoAviKind = 3;  // the MPO kind's endings and AVI
constexpr int MpoKind = 4;     // MPO HEIC HEIF AVIF .VR.JPG
constexpr int JpegKind = 5;   // JPG JPEG JPS: files a comment can be written to
constexpr int JpgMp4Kind = 6;
constexpr int AllKinds = 0;

// A folder list holds at most this many names.
constexpr int kFolderListLimit = 5000;

// 1 when the file-name part of `name` ends in one of the kind's endings
// (ASCII case ignored; no dot needed, so "photojpg" is a JPG), 0 otherwise.
// Names starting with "." (hidden files, resource forks such as "._a.jpg")
// never match.
int FileKindMatches(std::string_view name, int kind);

// The path up to and including its last separator; "" when it has none (a
// bare name lies in the current folder, so joining FolderOf(p) with another
// name always gives a usable path).
std::string FolderOf(std::string_view path);
// The part after the last separator; the whole path when it has none.
std::string FileNameOf(std::string_view path);

// The name of the other view of a pair: the letter just before the file
// name's last dot exchanged, L <-> R and l <-> r.  Returns 1 and the new
// name in `partner`, or 0 with `partner` a plain copy of `name` when there is
// no such letter (no dot, a dot first or last in the file name, or another
// character before it).
int PartnerName(std::string_view name, std::string& partner);

// A folder's files of one kind, as browsing steps through them.
struct FolderListing {
  std::vector<std::string> names;  // file names without folder
  int index = 0;                   // position of the listed-for file, or 0
};

// Lists the folder of `path`: regular files that are not empty and match
// `kind`, sorted with ASCII case ignored, at most kFolderListLimit of them
// (the first ones in that order), and the position of `path` among them.
FolderListing ListFolderFiles(const std::string& path, int kind);

// Which of the viewer's two folder lists ListFolder fills.
constexpr int LeftList = 0;
constexpr int RightList = 1;

// Fills Viewer.LeftFolderList (count ItemCount, index ItemIndex, folder
// LeftFolder) or Viewer.RightFolderList (RightCount, RightIndex,
// RightFolder) from ListFolderFiles.  Returns 1.
int ListFolder(const std::string& path, int kind, int which);

// The number of files ListFolderFiles would list (at most kFolderListLimit),
// without storing or sorting them.
int CountFolderFiles(const std::string& path, int kind);

// The ordering of folder lists: ASCII letters compared without case, every
// other byte by its value (so non-ASCII names follow code point order).
// Names equal but for case are ordered by their bytes, which keeps the order
// stable on file systems that hold both.
bool FolderNameLess(std::string_view a, std::string_view b);
