// An item read exactly as the viewer reads it for display, for the commands
// that show what the viewer would show (render, transition).
#pragma once

#include <optional>
#include <string>

#include "stereo/pair_loader.h"
#include "core/picture.h"

// Why an item could not be loaded: the file concerned and the reason.
struct ItemLoadFailure {
  std::string file;
  std::string reason;
};

// Loads FILE, or the pair FILE and RIGHTFILE, into two screen-fitted views:
// an MPO through the MPO reader and the pair fitting, any other still as a
// side-by-side picture, two files as a pair.  The floating window, comment
// band and panorama mode come from the viewer state, as in the viewer, so
// set CommentOn, CommentSize, FloatOffset and ActualSizeToggle first.  The
// comment and parallax are reset before reading.
//
// A file that cannot be opened fails; one that opens but no reader can read
// shows black, as in the viewer.  Returns false with `failure` filled.
bool LoadViewerItem(const std::string& file, const std::string& rightFile,
                    const ScreenSize& screen, Picture& left, Picture& right,
                    ItemLoadFailure& failure);

// The same for one entry of a slideshow list, as the viewer shows it: the
// list's settings applied, the entry's comment kept over the file's own.
// `number` counts entries from 1.  Movies and 360-degree entries are not
// still pictures and fail with a reason.
// Settings given on the command line win over the list's own.
struct ItemOverrides {
  std::optional<bool> commentOn;
  std::optional<int> floatOffset;
};

bool LoadListItem(const std::string& listPath, int number,
                  const ItemOverrides& overrides, const ScreenSize& screen,
                  Picture& left, Picture& right, ItemLoadFailure& failure);
