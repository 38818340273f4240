#include "resources/string_table.h"

#include <algorithm>
#include <iterator>

namespace {

// Kept in ascending id order: lookups are binary searches.
constexpr StringTableEntry kStrings[] = {
    // Message box captions.
    {2505, "実行エラー"},
    {2506, "確認"},
    // File history.
    {2510, "最近使ったファイルリストを削除してもいいですか？"},
    // Key help overlay.
    {2540, "[Esc] ：閉じる"},
    {2541, "[F1] ：ヘルプ表示の有無"},
    {2542, "[F2] or [マウス左クリック] ：停止(再生中) -> 停止位置から再開(停止中)"},
    {2543, "[F3] or [マウス右クリック] ：停止(再生中) -> 最初から再生(停止中)"},
    {2544, "[Enter] ：全画面⇔ウィンドウ画面切替"},
    {2545, "[X] 左右画像の交換"},
    {2546, "[マウスホイール][Page Up][Page Down]  拡大／縮小"},
    {2547, "[F] ：スクリーンサイズに合わせる"},
    {2548, "[J] 実画像サイズ(100%)"},
    {2549, "[Ctrl+Space] コマ送り（停止中有効）"},
    {2550, "[Ctrl+BackSpace] コマ戻し（停止中有効）"},
    {2551, "[Space] 次の映像に移る"},
    {2552, "[BackSpace] 前の映像に移る"},
    {2553, "[数字キー＋Enter] ：指定の映像に移る"},
    {2554, "[T] ：コメント表示のON/OFF"},
    {2555, "[←][→][↑]方向キー：フローティングウィンドウ量の変更"},
    {2556, "[A] ：スライドショーのON/OFF"},
    {2557, "[F4]～[F11]：ステレオ表示形式変更(実メニューを参照して下さい）"},
    // Slideshow lists.
    {2681, "スライドショーリストを開けません"},
};

}  // namespace

std::span<const StringTableEntry> StringTable() { return kStrings; }

const char* FindString(int id) {
  auto found = std::lower_bound(
      std::begin(kStrings), std::end(kStrings), id,
      [](const StringTableEntry& entry, int key) { return entry.id < key; });
  if (found == std::end(kStrings) || found->id != id) return nullptr;
  return found->text;
}

std::string_view StringText(int id) {
  const char* text = FindString(id);
  return text ? std::string_view(text) : std::string_view();
}
