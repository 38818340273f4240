#include "platform/qt_text_painter.h"

#include <fontconfig/fontconfig.h>

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <tuple>

namespace {

// fontconfig's stand-in for a face the system does not have.  The program's
// face names are Japanese Windows UI fonts, so the question is asked with
// the language set to Japanese, as a Japanese desktop would ask it.
QString SubstituteFamily(const std::string& face) {
  QString family = QString::fromStdString(face);
  if (QFontDatabase::hasFamily(family)) return family;
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return family;
  FcPatternAddString(pattern, FC_FAMILY,
                     reinterpret_cast<const FcChar8*>(face.c_str()));
  FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcChar8* name = nullptr;
  if (match && FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch)
    family = QString::fromUtf8(reinterpret_cast<const char*>(name));
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return family;
}

// The font's em box as fractions of its size above and below the baseline:
// the typographic ascender and descender, which well-made fonts make add up
// to one em.  A Japanese UI font fills that box with its ideographs, so its
// top is where "the text's top" is.  Without the table, the line's ascent
// and descent stand in.
void EmBox(const QFont& font, double& above, double& below) {
  QRawFont raw = QRawFont::fromFont(font);
  QByteArray os2 = raw.isValid() ? raw.fontTable("OS/2") : QByteArray();
  double units = raw.isValid() ? raw.unitsPerEm() : 0;
  if (os2.size() >= 72 && units > 0) {
    auto at = [&](int offset) {
      return qFromBigEndian<qint16>(os2.constData() + offset);
    };
    double ascender = at(68), descender = -at(70);  // sTypoAscender, ...Descender
    if (ascender > 0 && descender >= 0) {
      above = ascender / units;
      below = descender / units;
      return;
    }
  }
  QFontMetricsF metrics(font);
  double size = font.pixelSize() > 0 ? font.pixelSize() : metrics.height();
  above = metrics.ascent() / size;
  below = metrics.descent() / size;
}

struct ResolvedFont {
  QFont font;
  int baseline = 0;  // from the text's top edge
};

class QtPainterImpl final : public TextPainter {
 public:
  void DrawText(Framebuffer& fb, const Rect& clip, int x, int y,
                std::string_view text, const TextStyle& style) override;
  int TextWidth(std::string_view text, const TextStyle& style) override {
    QString string = QString::fromUtf8(text.data(), qsizetype(text.size()));
    return QFontMetrics(Resolve(style).font).horizontalAdvance(string);
  }
  ResolvedFont Resolve(const TextStyle& style);
  void Release() {
    std::lock_guard lock(mutex_);
    cache_.clear();
  }

 private:
  std::mutex mutex_;  // movie frames draw their comment on a streaming thread
  std::map<std::tuple<std::string, int, int>, ResolvedFont> cache_;
};

ResolvedFont QtPainterImpl::Resolve(const TextStyle& style) {
  std::lock_guard lock(mutex_);
  auto key = std::make_tuple(style.face, style.height, style.weight);
  auto found = cache_.find(key);
  if (found != cache_.end()) return found->second;
  QFont font = style.face.empty() ? QGuiApplication::font()
                                  : QFont(SubstituteFamily(style.face));
  // Grey antialiasing only: coloured fringes would break the one-pixel
  // patterns of the interlaced formats under the text.
  font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias |
                                             QFont::NoSubpixelAntialias));
  font.setWeight(QFont::Weight(std::clamp(style.weight, 1, 1000)));
  ResolvedFont resolved;
  if (style.height > 0) {
    font.setPixelSize(100);
    double above = 0, below = 0;
    EmBox(font, above, below);
    double box = above + below > 0 ? above + below : 1.0;
    int size = std::max(1, static_cast<int>(std::lround(style.height / box)));
    font.setPixelSize(size);
    resolved.baseline = static_cast<int>(std::lround(size * above));
  } else {
    resolved.baseline = QFontMetrics(font).ascent();
  }
  resolved.font = font;
  cache_.emplace(key, resolved);
  return resolved;
}

void QtPainterImpl::DrawText(Framebuffer& fb, const Rect& clip, int x, int y,
                             std::string_view text, const TextStyle& style) {
  if (fb.width <= 0 || fb.height <= 0 || text.empty()) return;
  QRect area = QRect(clip.x, clip.y, clip.width, clip.height) &
               QRect(0, 0, fb.width, fb.height);
  if (area.isEmpty()) return;
  ResolvedFont resolved = Resolve(style);
  QString string = QString::fromUtf8(text.data(), qsizetype(text.size()));
  int left = x;
  if (style.centred)
    left -= QFontMetrics(resolved.font).horizontalAdvance(string) / 2;
  // The framebuffer's pixels are QImage's RGB32 layout: paint in place.
  QImage image(reinterpret_cast<uchar*>(fb.pixels.data()), fb.width, fb.height,
               qsizetype(fb.width) * 4, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setClipRect(area);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setFont(resolved.font);
  painter.setPen(QColor(RedOf(style.colour), GreenOf(style.colour),
                        BlueOf(style.colour)));
  painter.drawText(QPoint(left, y + resolved.baseline), string);
}

QtPainterImpl& Instance() {
  static QtPainterImpl painter;
  return painter;
}

}  // namespace

TextPainter& QtTextPainter() { return Instance(); }

void InstallQtTextPainter() { SetTextPainter(&Instance()); }

void ReleaseQtTextPainterFonts() { Instance().Release(); }

std::string ResolvedFontFamily(const TextStyle& style) {
  ResolvedFont resolved = Instance().Resolve(style);
  return QFontInfo(resolved.font).family().toStdString();
}

bool HasGlyphsFor(std::string_view text, const TextStyle& style) {
  ResolvedFont resolved = Instance().Resolve(style);
  QTextLayout layout(QString::fromUtf8(text.data(), qsizetype(text.size())),
                     resolved.font);
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
  for (const QGlyphRun& run : layout.glyphRuns())
    for (quint32 glyph : run.glyphIndexes())
      if (glyph == 0) return false;  // glyph 0 is the missing-glyph box
  return true;
}
