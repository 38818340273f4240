#include "stereo/stereo_format.h"

#include <charconv>

#include "image/ascii_case.h"

namespace {

using F = RendererFamily;

constexpr StereoFormatEntry kFormats[] = {
    {SideBySide, "SideBySide", "横並び表示", "F9", F::SideBySide},
    {SideBySideMirrorLeft, "SideBySideMirrorLeft", "鏡像(左)", "Shift+F9", F::SideBySide},
    {SideBySideMirrorRight, "SideBySideMirrorRight", "鏡像(右)", "Ctrl+F9", F::SideBySide},
    {SideBySideMirrorBoth, "SideBySideMirrorBoth", "鏡像(左右)", "Ctrl+Shift+F9", F::SideBySide},
    {OverUnder, "OverUnder", "縦並び表示", "F10", F::OverUnder},
    {OverUnderMirrorTop, "OverUnderMirrorTop", "鏡像(上)", "Shift+F10", F::OverUnder},
    {OverUnderMirrorBottom, "OverUnderMirrorBottom", "鏡像(下)", "Alt+F10", F::OverUnder,
     "Alt+Shift+F10"},
    {OverUnderMirrorBoth, "OverUnderMirrorBoth", "鏡像(上下)", "Ctrl+Shift+F10", F::OverUnder},
    {AnaglyphRedCyan, "AnaglyphRedCyan", "アナグリフ(赤-シアン)", "F6", F::Anaglyph},
    {AnaglyphRedGreen, "AnaglyphRedGreen", "アナグリフ(赤-緑)", "Shift+F6", F::Anaglyph},
    {AnaglyphRedBlue, "AnaglyphRedBlue", "アナグリフ(赤-青)", "Ctrl+F6", F::Anaglyph},
    {AnaglyphYellowBlue, "AnaglyphYellowBlue", "アナグリフ(黄-青)", "Ctrl+Shift+F6", F::Anaglyph},
    {ColorAnaglyphRedCyan, "ColorAnaglyphRedCyan", "カラーアナグリフ(赤-シアン)", "Ctrl+F7", F::Anaglyph},
    {ColorAnaglyphRedCyanRedCorrected, "ColorAnaglyphRedCyanRedCorrected",
     "カラーアナグリフ赤補正(赤-シアン)", "Shift+F7", F::Anaglyph},
    {DuboisAnaglyph, "DuboisAnaglyph", "カラーアナグリフ(Dubois)", "F7", F::Anaglyph},
    {ColorAnaglyphYellowBlue, "ColorAnaglyphYellowBlue", "カラーアナグリフ(黄-青)", "Alt+F7", F::Anaglyph,
     "Alt+Shift+F7"},
    {ColorAnaglyphYellowBlueBlueCorrected, "ColorAnaglyphYellowBlueBlueCorrected",
     "カラーアナグリフ青補正(黄-青)", "Ctrl+Alt+F7", F::Anaglyph, "Ctrl+Shift+F7"},
    {RowInterlace, "RowInterlace", "インターレース表示", "F4", F::RowInterlace},
    {ColumnInterlace, "ColumnInterlace", "縦インターレース表示", "Alt+F4", F::ColumnInterlace},
    {Sharp3dLcd, "Sharp3dLcd", "シャープ3DLCD表示", "Shift+F4", F::Sharp3dLcd},
    {DlpCheckerboard, "DlpCheckerboard", "3D DLP TV表示", "Ctrl+Alt+F4", F::DlpCheckerboard,
     "Ctrl+Shift+F4"},
    {NvidiaStereo, "NvidiaStereo", "3D VISION", "F8", F::NvidiaStereo},
    {Iz3d, "Iz3d", "IZ3D", "Ctrl+F8", F::Iz3d},
    {OneSide, "OneSide", "片側映像表示", "F11", F::OneSide},
    {Source, "Source", "ソース映像表示", "Shift+F11", F::Source},
};


}  // namespace

std::span<const StereoFormatEntry> StereoFormats() {
  return kFormats;
}

const StereoFormatEntry* FindStereoFormat(int code) {
  for (const auto& entry : kFormats)
    if (entry.code == code) return &entry;
  return nullptr;
}

const StereoFormatEntry* FindStereoFormatByName(std::string_view name) {
  int code = 0;
  auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), code);
  if (error == std::errc() && end == name.data() + name.size())
    return FindStereoFormat(code);
  for (const auto& entry : kFormats)
    if (EqualIgnoringCase(entry.name, name)) return &entry;
  return nullptr;
}
