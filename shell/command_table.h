// The main window's numbered commands as data: their ids, the four menus
// with their texts and shortcut hints, and the accelerator table.  The window
// builds its menu bar and shortcuts from these tables and nothing else, so a
// key or a text is changed in one place.
#pragma once

#include <span>

// Stereo formats: command id = 1000 + format code.
constexpr int CMD_FORMAT_FIRST = 1000;
constexpr int CMD_FORMAT_LAST = 1027;

constexpr int CMD_MOVIE_ENDED = 1050;
constexpr int CMD_MEMORY_REPORT = 1051;
constexpr int CMD_FRAME_COPY_KEY = 1052;
// Sent by the 360 viewer when the user leaves it with Esc or Q: back to the
// item shown before it opened.
constexpr int CMD_LEAVE_360 = 1053;
constexpr int CMD_HELP_OVERLAY = 1104;
constexpr int CMD_ABOUT = 2040;
constexpr int CMD_WEB_HELP = 2125;
constexpr int CMD_MAKE_LIST = 2158;
constexpr int CMD_MONITOR_SETUP = 2159;
constexpr int CMD_FULL_SCREEN_HERE = 2160;
constexpr int CMD_SWAP = 3005;
constexpr int CMD_HELP_FILE = 3304;
constexpr int CMD_OPEN_360 = 4000;
constexpr int CMD_OPEN_FILE = 4002;
// CMD_SHOW_FILE 4003, CMD_SHOW_PAIR 4005, CMD_FULL_SCREEN_CHOSEN 4010 and
// CMD_START_LIST 4013 come with the start-up services (shell/startup.h).
constexpr int CMD_OPEN_PAIR = 4004;
constexpr int CMD_EXIT = 4006;
constexpr int CMD_NEXT = 4007;
constexpr int CMD_PREVIOUS = 4008;
constexpr int CMD_SLIDESHOW = 4009;
constexpr int CMD_SETTINGS = 4011;
constexpr int CMD_OPEN_LIST = 4012;
constexpr int CMD_MOVIE_PAUSE = 4014;
constexpr int CMD_MOVIE_RESTART = 4015;
constexpr int CMD_FIT = 4016;
constexpr int CMD_ACTUAL_SIZE = 4017;
constexpr int CMD_ZOOM_IN = 4018;
constexpr int CMD_ZOOM_OUT = 4019;
constexpr int CMD_STEP_FORWARD = 4020;
constexpr int CMD_STEP_BACKWARD = 4021;
constexpr int CMD_FLOAT_BACK = 4023;
constexpr int CMD_FLOAT_FORWARD = 4024;
constexpr int CMD_RELOAD_ITEM = 4029;
constexpr int CMD_FLOAT_RESET = 4030;
constexpr int CMD_FLOAT_RESET_DOWN = 4031;
constexpr int CMD_COMMENT = 4032;
constexpr int CMD_HELP_MENU_ITEM = 4034;
constexpr int CMD_CONTROL_PANEL = 4037;
constexpr int CMD_FRAME_COPY = 4038;
constexpr int CMD_JPEG_COMMENT = 4039;
constexpr int CMD_DOUBLE_WIDTH = 4042;
constexpr int CMD_RATE_UP = 4043;
constexpr int CMD_RATE_DOWN = 4044;
constexpr int CMD_HALF_WIDTH = 4045;
constexpr int CMD_EYEFI = 4046;
constexpr int CMD_SMOOTHING = 4047;
constexpr int CMD_SHOW_360 = 4048;
constexpr int CMD_RATE_FIRST = 4051;  // 4051..4059: rate 1.0 .. 9.0
constexpr int CMD_RATE_LAST = 4059;
constexpr int CMD_PANORAMA_SIZE = 4060;
constexpr int CMD_WIDTH_CYCLE = 4061;
constexpr int CMD_AUTO_ALIGN = 4062;
constexpr int CMD_AUTO_CONVERGE = 4063;
constexpr int CMD_DIGIT_FIRST = 5000;  // 5000..5009: digits 0..9
constexpr int CMD_DIGIT_LAST = 5009;
// Keys bound to commands that nothing acts on: G, D, B and Ctrl+arrows.
// They stay in the key table: a press is taken and does nothing.
constexpr int CMD_UNUSED_G = 3010;
constexpr int CMD_UNUSED_CTRL_ARROW_FIRST = 4025;  // Ctrl+Left, Right, Up, Down
constexpr int CMD_UNUSED_CTRL_ARROW_LAST = 4028;
constexpr int CMD_UNUSED_D = 4035;
constexpr int CMD_UNUSED_B = 4040;

// One menu item; id 0 is a separator.  `hint` is the shortcut text shown
// after a tab; empty when the item has none.
struct MenuItemRow {
  int id;
  const char* text;
  const char* hint;
};

struct MenuRow {
  const char* title;
  std::span<const MenuItemRow> items;
};

// The four popups of the menu bar, in order.  The history items are not
// here: the window inserts them above item 2149 whenever the menu opens.
std::span<const MenuRow> MainMenus();

// One accelerator: a key in Qt's portable key-sequence text and the command
// it sends.  Several keys may send one command; no key sends two.
struct AcceleratorRow {
  const char* key;
  int id;
};
std::span<const AcceleratorRow> Accelerators();

// The menu text of `id` (any of the four menus); null when no item has it.
const char* MenuTextOf(int id);

// Items that carry a check mark; the window sets them on every menu opening.
bool IsCheckedItem(int id);
