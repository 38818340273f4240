// The stereo descriptor a JPS file may carry (an APP3 segment that starts
// "_JPSJPS_"): how its two views lie in the one picture and which eye comes
// first.  Files without one keep the old rule: side by side, the left half
// the left view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/picture.h"

enum class JpsArrangement { SideBySide, OverUnder, Interleaved };

struct JpsLayout {
  bool declared = false;  // a stereo descriptor we can follow was found
  JpsArrangement arrangement = JpsArrangement::SideBySide;
  // The left view in the left (or upper) half, or on the first row.
  bool leftFirst = true;
  bool halfWidth = false;   // recorded, not applied: views keep their size
  bool halfHeight = false;
  int separation = 0;
};

// The descriptor among the segments before the first scan.  A missing,
// damaged or mono descriptor, or one of a layout the views cannot be cut
// from (anaglyph), gives the undeclared layout.
JpsLayout ReadJpsLayout(const uint8_t* data, size_t size);

// The APP3 segment (marker included) that declares `layout`, with no
// comment.
std::vector<uint8_t> JpsDescriptorSegment(const JpsLayout& layout);

// The two views of a 24-bit picture as `layout` places them.  False, with
// both slots empty, when the picture is too small to hold two views or
// memory runs out.
bool SplitJpsViews(const Picture& whole, const JpsLayout& layout,
                   Picture& left, Picture& right);

// The picture as the side-by-side frame the viewer cuts (left view in the
// left half).  A picture already in that order is returned as it is; null
// when it cannot be rearranged.
Picture LeftFirstSideBySide(Picture whole, const JpsLayout& layout);
