#include "resources/string_table.h"

#include <algorithm>
#include <iterator>

namespace {

// Kept in ascending id order: lookups are binary searches.
constexpr StringTableEntry kStrings[] = {
    // Transition effect names, in the order of nEFType.
    {1, "切替効果なし"},
    {2, "ランダム"},
    {3, "スライド切替"},
    {4, "パース切替"},
    {5, "透過切替"},
    {6, "球状切替"},
    {7, "巻取り切替"},
    {8, "ヘルプファイルが表示できません"},
    // The help web page (an outside page).
    {9, "https://duoramic.example.org/help/"},
    // Open dialog titles.
    {50, "ステレオ画像を開く"},
    {51, "左画像を開く"},
    {52, "右画像を開く"},
    {53, "スライドショーリストを開く"},
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
    {2558, "[L] ：自動位置合わせON/OFF"},
    {2559, "[V] ：自動視差調整ON/OFF"},
    // Titles of the item on display and of a running slideshow.
    {2568, "左映像(%s) 右映像(%s) %d/%d  %s"},
    {2569, "(%s) %d/%d  %s"},
    {2593, "%d.%d 秒間隔でスライドショー中"},
    {2674, "全天球画像を開く"},
    {2675, "スライドショーリストの作成"},
    // The list maker.
    {2676, "スライドショーリストファイルの指定"},
    {2677, "リストファイルが指定されていません"},
    {2678, "左右ファイル指定は、必ず偶数になるはずです"},
    {2679, "リストを作成できません"},
    {2680, "%d個のファイルをスライドショーリストに追加しました"},
    // Slideshow lists.
    {2681, "スライドショーリストを開けません"},
    {2682, "追加処理終了"},
    {2683, "本当に削除しますか？"},
    {2705,
     "ステレオ形式が、「ソース映像表示」になっているので、左右画像入替できません。"},
    // Control panel: the pause button's two texts.
    {2792, "停止"},
    {2793, "再開"},
    // The page the missing-codec question offers.
    {2797, "https://duoramic.example.org/help/codecs"},
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
