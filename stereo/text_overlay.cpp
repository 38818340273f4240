#include "stereo/text_overlay.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "image/comment.h"
#include "resources/string_table.h"
#include "core/viewer_state.h"
#include "stereo/stereo_format.h"
#include "stereo/text_painter.h"

namespace {

std::atomic<TextPainter*> installedPainter{nullptr};

std::vector<std::string> itemMessage;

// The help lines use the application's own font at a fixed pixel size: the
// lines sit 20 device pixels apart whatever the desktop's font settings, so
// a point size that grows with the screen's DPI would make them overlap.
constexpr int kHelpTextHeight = 13;

TextStyle CommentStyle(int bandHeight) {
  TextStyle style;
  style.face = Viewer.FontFace;
  style.height = bandHeight * 80 / 100;
  style.weight = 600;
  style.colour = Rgb(192, 192, 192);
  style.centred = true;
  return style;
}

// Copies a top-down framebuffer into a 24-bit bottom-up picture with its
// top-left corner at (left, top), clipped to the picture.
void CopyIntoPicture(const Framebuffer& fb, uint8_t* block, int left, int top) {
  int width = PictureWidth(block), height = PictureHeight(block);
  int x0 = std::max(left, 0), x1 = std::min(left + fb.width, width);
  for (int y = std::max(top, 0); y < std::min(top + fb.height, height); ++y) {
    const uint32_t* src = fb.Row(y - top);
    uint8_t* dst = PictureRow(block, height - 1 - y);
    for (int x = x0; x < x1; ++x) {
      uint32_t c = src[x - left];
      dst[3 * x] = static_cast<uint8_t>(BlueOf(c));
      dst[3 * x + 1] = static_cast<uint8_t>(GreenOf(c));
      dst[3 * x + 2] = static_cast<uint8_t>(RedOf(c));
    }
  }
}

}  // namespace

TextPainter* CurrentTextPainter() {
  return installedPainter.load(std::memory_order_acquire);
}

void SetTextPainter(TextPainter* painter) {
  installedPainter.store(painter, std::memory_order_release);
}

namespace {

// Where the key help's lines go, and the panel's margin around them.
constexpr int kHelpTop = 22;
constexpr int kHelpLineStep = 20;
constexpr int kHelpMargin = 4;
// The panel keeps this share of what is behind it, in 256ths.
constexpr uint32_t kHelpPanelKeep = 80;

void DarkenRect(Framebuffer& fb, int x0, int y0, int x1, int y1) {
  x0 = std::clamp(x0, 0, fb.width);
  x1 = std::clamp(x1, 0, fb.width);
  y0 = std::clamp(y0, 0, fb.height);
  y1 = std::clamp(y1, 0, fb.height);
  for (int y = y0; y < y1; ++y) {
    uint32_t* row = fb.Row(y);
    for (int x = x0; x < x1; ++x) {
      uint32_t p = row[x];
      uint32_t r = ((p >> 16) & 0xFF) * kHelpPanelKeep >> 8;
      uint32_t g = ((p >> 8) & 0xFF) * kHelpPanelKeep >> 8;
      uint32_t b = (p & 0xFF) * kHelpPanelKeep >> 8;
      row[x] = (p & 0xFF000000u) | r << 16 | g << 8 | b;
    }
  }
}

}  // namespace

void DrawHelpOverlay(Framebuffer& fb) {
  TextPainter* painter = CurrentTextPainter();
  if (!Viewer.HelpOverlayOn || !painter) return;
  Rect whole{0, 0, fb.width, fb.height};
  TextStyle style;
  style.height = kHelpTextHeight;
  // Black first, then white one pixel down and right: white text with a
  // shadow up and to the left, readable over any picture.
  std::vector<std::string> lines;
  for (int k = 0; k < kHelpLineCount; ++k)
    lines.emplace_back(StringText(kHelpFirstString + k));
  // Then the second keys, for desktops that keep the first ones.
  for (const StereoFormatEntry& f : StereoFormats())
    if (f.secondKey)
      lines.push_back(std::string("[") + f.secondKey + "]：" + f.menuText +
                      "（" + f.key + "）");
  // A dark translucent panel behind the lines keeps them readable over snow
  // or sky, where the thin shadow alone is lost.
  int widest = 0;
  for (const std::string& line : lines)
    widest = std::max(widest, painter->TextWidth(line, style));
  if (widest == 0) widest = fb.width / 3;  // a painter that cannot measure
  DarkenRect(fb, 0, kHelpTop - kHelpMargin, widest + 3 + 2 * kHelpMargin,
             kHelpTop + kHelpLineStep * int(lines.size()) + kHelpMargin);
  for (int pass = 0; pass < 2; ++pass) {
    style.colour = pass == 0 ? kBlack : kWhite;
    for (size_t k = 0; k < lines.size(); ++k)
      painter->DrawText(fb, whole, 2 + pass,
                        kHelpTop + pass + kHelpLineStep * int(k), lines[k],
                        style);
  }
}

namespace {

std::mutex canvasNoteLock;
std::string canvasNote;
// Read without the lock by every presentation, movie frames included: most
// have no note to draw.
std::atomic<bool> canvasNoteShown{false};

}  // namespace

void SetCanvasNote(std::string text) {
  std::lock_guard guard(canvasNoteLock);
  canvasNote = std::move(text);
  canvasNoteShown.store(!canvasNote.empty(), std::memory_order_release);
}

std::string CanvasNote() {
  std::lock_guard guard(canvasNoteLock);
  return canvasNote;
}

void DrawCanvasNote(Framebuffer& fb) {
  if (!canvasNoteShown.load(std::memory_order_acquire)) return;
  TextPainter* painter = CurrentTextPainter();
  std::string note = CanvasNote();
  if (note.empty() || !painter || fb.width <= 0 || fb.height <= 0) return;
  TextStyle style;
  style.height = std::clamp(fb.height / 32, 14, 30);
  // A long note is made smaller until it fits the width.
  int room = fb.width * 19 / 20;
  int width = painter->TextWidth(note, style);
  if (width > room) {
    style.height = std::max(8, style.height * room / width);
    width = painter->TextWidth(note, style);
  }
  if (width <= 0) width = room;  // a painter that cannot measure
  int margin = std::max(kHelpMargin, style.height / 2);
  int panelHeight = style.height * 3 / 2 + 2 * margin;
  int top = std::max(0, fb.height - fb.height / 10 - panelHeight);
  int left = std::max(0, (fb.width - width) / 2);
  // The key help's panel and shadowed white text: readable over any picture.
  DarkenRect(fb, left - margin, top, left + width + 1 + margin,
             top + panelHeight);
  Rect whole{0, 0, fb.width, fb.height};
  for (int pass = 0; pass < 2; ++pass) {
    style.colour = pass == 0 ? kBlack : kWhite;
    painter->DrawText(fb, whole, left + pass, top + margin + pass, note, style);
  }
}

void DrawCommentText(Framebuffer& fb, const Rect& rect) {
  FillRect(fb, rect.x, rect.y, rect.x + rect.width, rect.y + rect.height,
           kBlack);
  TextPainter* painter = CurrentTextPainter();
  if (!painter || CurrentCommentEmpty() || rect.height <= 0) return;
  // Clipped to the band: a comment wider than the view must not spill over
  // the picture beside it.
  painter->DrawText(fb, rect, rect.x + rect.width / 2,
                    rect.y + rect.height / 10, CurrentComment,
                    CommentStyle(rect.height));
}

void DrawCommentText(Picture& picture, const Rect& rect) {
  if (!picture || PictureBits(picture) != 24 || rect.width <= 0 ||
      rect.height <= 0)
    return;
  Framebuffer band;
  band.Resize(rect.width, rect.height);
  DrawCommentText(band, {0, 0, rect.width, rect.height});
  CopyIntoPicture(band, picture.get(), rect.x, rect.y);
}

Picture RenderCommentBand(int width, int height) {
  Picture picture = CreatePicture(width, height, 24);
  TextPainter* painter = CurrentTextPainter();
  if (!picture || !painter || CurrentCommentEmpty()) return picture;
  Framebuffer band;
  band.Resize(width, height);
  TextStyle style = CommentStyle(height);
  Rect whole{0, 0, width, height};
  painter->DrawText(band, whole, width / 4, height / 10, CurrentComment, style);
  painter->DrawText(band, whole, width * 3 / 4, height / 10, CurrentComment,
                    style);
  CopyIntoPicture(band, picture.get(), 0, 0);
  return picture;
}

void SetItemMessage(std::vector<std::string> lines) {
  itemMessage = std::move(lines);
}

const std::vector<std::string>& ItemMessage() { return itemMessage; }

void DrawItemMessage(Framebuffer& fb) {
  if (itemMessage.empty() || fb.width <= 0 || fb.height <= 0) return;
  // Lines sized like a comment on a picture filling the window, but never
  // so small that a name cannot be read nor so large that it runs off.
  int line = std::clamp(fb.height / 22, 14, 40);
  int pitch = line * 3 / 2;
  int count = static_cast<int>(itemMessage.size());
  int height = std::min(pitch * count + line, fb.height);
  int top = (fb.height - height) / 2;
  Rect band{0, top, fb.width, height};
  FillRect(fb, band.x, band.y, band.x + band.width, band.y + band.height,
           kBlack);
  TextPainter* painter = CurrentTextPainter();
  if (!painter) return;
  for (int k = 0; k < count; ++k) {
    // A long reason is made smaller until it fits the window's width.
    TextStyle style = CommentStyle(line * 100 / 80);
    int room = fb.width * 19 / 20;
    int width = painter->TextWidth(itemMessage[k], style);
    if (width > room) style.height = std::max(6, style.height * room / width);
    int y = top + line / 2 + pitch * k + (line - style.height) / 2;
    painter->DrawText(fb, band, fb.width / 2, y, itemMessage[k], style);
  }
}
