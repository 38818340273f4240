// Items that cannot be shown as the viewer means to show them, and what the
// user is told about them: a file no reader can read, a multi-picture file
// that holds no second view, a folder without anything to show.  The name
// and the reason go onto the canvas (an unreadable file) or into the title
// (a picture shown flat), so that nothing is ever only black.
#pragma once

#include <string>
#include <vector>

#include "core/picture.h"

// The readers' reason for `path` as the user reads it: the part that
// concerns the file's own format ("JPEG: Empty input file" of a .jpg
// rather than every reader's refusal), led by a plain Japanese sentence
// when the reason is a common one.
std::string UnreadableReason(const std::string& path,
                             const std::string& failure);

// The canvas lines for a file that cannot be shown: its name, that it
// cannot be shown, and why.
std::vector<std::string> UnreadableMessage(const std::string& path,
                                           const std::string& reason);

// The canvas lines and title note of a pair one or both of whose files
// could not be read (a failure is empty for a file that was).
void UnreadablePair(const std::string& left, const std::string& leftFailure,
                    const std::string& right, const std::string& rightFailure,
                    std::vector<std::string>& message, std::string& note);

// The title note of an unreadable file, and of a multi-picture file shown
// flat (both eyes the first picture).
std::string UnreadableNote(const std::string& reason);
std::string FlatNote(const std::string& reason);
// The title note of a picture shown as far as its file goes.
std::string PartialNote(const std::string& reason);

// The first picture of a multi-picture file that is not a stereo one, as
// both views; false when not even that can be read (then `why` says so).
bool ReadFlatPicture(const std::string& path, Picture& left, Picture& right,
                     std::string& why);

// Two black pictures of the size an unreadable still shows.
bool BlackStandIns(Picture& left, Picture& right);

// What opening a folder shows: its first file the viewer can show (a still
// or movie, else an MPO), or "" when it has none.
std::string FirstItemOfFolder(const std::string& folder);

// The canvas lines and title note of a folder without anything to show.
std::vector<std::string> EmptyFolderMessage(const std::string& folder);
std::string EmptyFolderNote();

// Whether `path` names a folder (links followed).
bool IsFolderPath(const std::string& path);
