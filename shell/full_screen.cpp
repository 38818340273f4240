// Full screen: on the window's own monitor or over the chosen monitors.
#include "shell/command_table.h"
#include "shell/main_window.h"

namespace {

void FullScreenKey(MainWindow& w, int id) {
  if (GoToTypedNumber(w)) return;
  ToggleFullScreen(w, id);
}

constexpr CommandHandlerRow kHandlers[] = {
    {CMD_FULL_SCREEN_HERE, CMD_FULL_SCREEN_HERE, FullScreenKey},
    {CMD_FULL_SCREEN_CHOSEN, CMD_FULL_SCREEN_CHOSEN, FullScreenKey},
};

}  // namespace

std::span<const CommandHandlerRow> FullScreenCommandHandlers() {
  return kHandlers;
}

void ToggleFullScreen(MainWindow& w, int id) { w.ReportNotBuilt(id); }
