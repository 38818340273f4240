// The narrow interface through which the overlays draw text.  The platform
// layer implements it with its font engine and installs it at start-up, so
// the composition code itself never depends on a toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "stereo/framebuffer.h"
#include "stereo/geometry.h"

struct TextStyle {
  std::string face;   // font family; empty: the application's default font
  // Height of the text line in pixels, from the top edge (the reference y)
  // to the bottom edge; 0: the default font's own size.
  int height = 0;
  int weight = 400;   // 400 normal, 600 semi-bold, 700 bold
  uint32_t colour = kWhite;
  bool centred = false;  // x is the text's horizontal centre, else its left edge
};

class TextPainter {
 public:
  virtual ~TextPainter() = default;
  // Draws UTF-8 `text` antialiased over what is there (transparent
  // background), its top edge at y, touching only pixels inside `clip`.
  virtual void DrawText(Framebuffer& fb, const Rect& clip, int x, int y,
                        std::string_view text, const TextStyle& style) = 0;
  // How wide DrawText would draw `text`, in pixels; 0 when not known.
  virtual int TextWidth(std::string_view, const TextStyle&) { return 0; }
};

// The painter the overlays use.  Null until the platform installs one; the
// overlays then draw their black backgrounds but no text.
TextPainter* CurrentTextPainter();
void SetTextPainter(TextPainter* painter);
