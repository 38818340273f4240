#include "shell/command_table.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "shell/file_history.h"
#include "shell/startup.h"
#include "stereo/stereo_format.h"

namespace {

constexpr MenuItemRow kFileMenu[] = {
    {CMD_OPEN_FILE, "ステレオ映像を開く", "W"},
    {CMD_OPEN_PAIR, "左右映像を開く", "O"},
    {CMD_OPEN_360, "全天球映像を開く...", ""},
    {CMD_OPEN_LIST, "スライドショーリストを開く", "S"},
    {CMD_MAKE_LIST, "スライドショーリストの作成", ""},
    {0, "", ""},
    {CMD_JPEG_COMMENT, "JPEGコメント追加", "K"},
    {0, "", ""},
    {CMD_SETTINGS, "設定", ""},
    {CMD_MONITOR_SETUP, "全画面モニタ設定", "Shift+W"},
    {0, "", ""},
    {CMD_CLEAR_HISTORY, "ファイル履歴の削除", ""},
    {0, "", ""},
    {CMD_EXIT, "終了", "ESC"},
};

constexpr MenuItemRow kOperationMenu[] = {
    {CMD_FULL_SCREEN_HERE, "全画面表示", "Alt+Enter"},
    {CMD_FULL_SCREEN_CHOSEN, "モニタ設定に基づく全画面表示", "Enter"},
    {CMD_FIT, "ウィンドウサイズ表示", "F"},
    {CMD_ACTUAL_SIZE, "実映像サイズ表示", "J"},
    {CMD_DOUBLE_WIDTH, "横倍表示", "Shift+M"},
    {CMD_HALF_WIDTH, "横半表示", "Ctrl+M"},
    {CMD_ZOOM_IN, "ズームイン", "PageUp or ホイール"},
    {CMD_ZOOM_OUT, "ズームアウト", "PageDown or ホイール"},
    {CMD_SMOOTHING, "スムージング（低速）", "Ctrl+Q"},
    {0, "", ""},
    {CMD_SWAP, "左右入替", "X"},
    {CMD_AUTO_ALIGN, "自動位置合わせON/OFF", "L"},
    {CMD_AUTO_CONVERGE, "自動視差調整ON/OFF", "V"},
    {CMD_SLIDESHOW, "スライドショーON/OFF", "A"},
    {CMD_COMMENT, "コメント表示ON/OFF", "T"},
    {CMD_HELP_MENU_ITEM, "ヘルプ表示ON/OFF", "F1"},
    {0, "", ""},
    {CMD_FLOAT_BACK, "フローティングウィンドウ（奥側に移動)", "←"},
    {CMD_FLOAT_FORWARD, "フローティングウィンドウ（手前側に移動)", "→"},
    {CMD_FLOAT_RESET, "フローティングウィンドウ（リセット)", "↑"},
    {0, "", ""},
    {CMD_NEXT, "次画像", "スペース"},
    {CMD_PREVIOUS, "前画像", "バックスペース"},
    {0, "", ""},
    {CMD_CONTROL_PANEL, "コントロールパネル表示／非表示", "C"},
    {CMD_MOVIE_PAUSE, "動画再生停止／再開", "F2 or 左クリック"},
    {CMD_MOVIE_RESTART, "動画再生停止/最初から再生", "F3 or 右クリック"},
    {CMD_STEP_FORWARD, "動画ステップ送り", "Ctrl+スペース"},
    {CMD_STEP_BACKWARD, "動画ステップ戻し", "Ctrl+バックスペース"},
    {CMD_FRAME_COPY, "動画フレームコピー", "Ctrl+C"},
};

constexpr MenuItemRow kHelpMenu[] = {
    // F1 and H toggle the key help over the picture, not this page, so
    // the item names no key.
    {CMD_HELP_FILE, "ヘルプ(&H)...", ""},
    {CMD_WEB_HELP, "ホームページ上にあるヘルプ", ""},
    {CMD_ABOUT, "バージョン情報(&A)...", ""},
};

// The format menu's order groups the anaglyphs by kind, with Dubois first
// among the colour ones; texts and keys come from the format catalogue.
constexpr int kFormatMenuOrder[] = {
    0,  1,  2,  3,  -1, 4,  5,  6,  7,  -1, 9,  10, 11, 12, -1, 15, 13,
    14, 16, 17, -1, 18, 19, 20, 21, -1, 22, 23, -1, 24, 27};

const std::vector<MenuItemRow>& FormatMenu() {
  static const std::vector<MenuItemRow> items = [] {
    std::vector<MenuItemRow> rows;
    for (int code : kFormatMenuOrder) {
      const StereoFormatEntry* f = code < 0 ? nullptr : FindStereoFormat(code);
      if (f) rows.push_back({MenuIdOf(code), f->menuText, f->key});
      else rows.push_back({0, "", ""});
    }
    return rows;
  }();
  return items;
}

constexpr AcceleratorRow kFixedKeys[] = {
    {"Alt+Y", CMD_MEMORY_REPORT},
    {"Ctrl+C", CMD_FRAME_COPY},
    {"F1", CMD_HELP_OVERLAY},
    {"H", CMD_HELP_OVERLAY},
    {"Shift+W", CMD_MONITOR_SETUP},
    {"Alt+Return", CMD_FULL_SCREEN_HERE},
    {"Alt+Enter", CMD_FULL_SCREEN_HERE},
    {"X", CMD_SWAP},
    {"L", CMD_AUTO_ALIGN},
    {"V", CMD_AUTO_CONVERGE},
    {"W", CMD_OPEN_FILE},
    {"O", CMD_OPEN_PAIR},
    {"Esc", CMD_EXIT},
    {"Space", CMD_NEXT},
    {"Backspace", CMD_PREVIOUS},
    {"A", CMD_SLIDESHOW},
    {"Return", CMD_FULL_SCREEN_CHOSEN},
    {"Enter", CMD_FULL_SCREEN_CHOSEN},
    {"S", CMD_OPEN_LIST},
    {"F2", CMD_MOVIE_PAUSE},
    {"F3", CMD_MOVIE_RESTART},
    {"F", CMD_FIT},
    {"J", CMD_ACTUAL_SIZE},
    {"PgUp", CMD_ZOOM_IN},
    {"PgDown", CMD_ZOOM_OUT},
    {"Ctrl+Space", CMD_STEP_FORWARD},
    {"Ctrl+Backspace", CMD_STEP_BACKWARD},
    {"Left", CMD_FLOAT_BACK},
    {"Right", CMD_FLOAT_FORWARD},
    {"Up", CMD_FLOAT_RESET},
    {"Down", CMD_FLOAT_RESET_DOWN},
    {"T", CMD_COMMENT},
    {"C", CMD_CONTROL_PANEL},
    {"K", CMD_JPEG_COMMENT},
    {"Shift+M", CMD_DOUBLE_WIDTH},
    {"Ctrl+M", CMD_HALF_WIDTH},
    {"M", CMD_WIDTH_CYCLE},
    {"Ctrl+Num++", CMD_RATE_UP},
    {"Ctrl+Num+-", CMD_RATE_DOWN},
    {"Ctrl+E", CMD_EYEFI},
    {"Ctrl+Q", CMD_SMOOTHING},
    {"Ctrl+Alt+P", CMD_SHOW_360},
    {"Ctrl+Num+1", 4051}, {"Ctrl+Num+2", 4052}, {"Ctrl+Num+3", 4053},
    {"Ctrl+Num+4", 4054}, {"Ctrl+Num+5", 4055}, {"Ctrl+Num+6", 4056},
    {"Ctrl+Num+7", 4057}, {"Ctrl+Num+8", 4058}, {"Ctrl+Num+9", 4059},
    {"P", CMD_PANORAMA_SIZE},
    {"0", 5000}, {"1", 5001}, {"2", 5002}, {"3", 5003}, {"4", 5004},
    {"5", 5005}, {"6", 5006}, {"7", 5007}, {"8", 5008}, {"9", 5009},
    {"Num+0", 5000}, {"Num+1", 5001}, {"Num+2", 5002}, {"Num+3", 5003},
    {"Num+4", 5004}, {"Num+5", 5005}, {"Num+6", 5006}, {"Num+7", 5007},
    {"Num+8", 5008}, {"Num+9", 5009},
    {"G", CMD_UNUSED_G}, {"D", CMD_UNUSED_D}, {"B", CMD_UNUSED_B},
    {"Ctrl+Left", 4025}, {"Ctrl+Right", 4026}, {"Ctrl+Up", 4027},
    {"Ctrl+Down", 4028},
};

constexpr int kCheckedItems[] = {CMD_SWAP,        CMD_SLIDESHOW,
                                 CMD_COMMENT,     CMD_FIT,
                                 CMD_CONTROL_PANEL, CMD_DOUBLE_WIDTH,
                                 CMD_HALF_WIDTH,  CMD_SMOOTHING,
                                 CMD_AUTO_ALIGN,  CMD_AUTO_CONVERGE};

}  // namespace

std::span<const MenuRow> MainMenus() {
  static const MenuRow menus[] = {
      {"ファイル", kFileMenu},
      {"操作", kOperationMenu},
      {"ステレオ形式", FormatMenu()},
      {"ヘルプ", kHelpMenu},
  };
  return menus;
}

std::span<const AcceleratorRow> Accelerators() {
  static const std::vector<AcceleratorRow> rows = [] {
    std::vector<AcceleratorRow> all(std::begin(kFixedKeys),
                                    std::end(kFixedKeys));
    for (const StereoFormatEntry& f : StereoFormats())
      all.push_back({f.key, MenuIdOf(f.code)});
    for (const StereoFormatEntry& f : StereoFormats())
      if (f.secondKey) all.push_back({f.secondKey, MenuIdOf(f.code)});
    return all;
  }();
  return rows;
}

const char* MenuTextOf(int id) {
  for (const MenuRow& menu : MainMenus())
    for (const MenuItemRow& item : menu.items)
      if (item.id == id && id != 0) return item.text;
  return nullptr;
}

bool IsCheckedItem(int id) {
  if (id >= CMD_FORMAT_FIRST && id <= CMD_FORMAT_LAST) return true;
  return std::find(std::begin(kCheckedItems), std::end(kCheckedItems), id) !=
         std::end(kCheckedItems);
}
