// A rectangle of the virtual desktop, as monitors and windows are placed on
// it: right and bottom are one past the last pixel.
#pragma once

struct DesktopRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool operator==(const DesktopRect&) const = default;
};
