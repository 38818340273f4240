// Where the list reader's warnings go.  The reader has no window: the shell
// installs a sink that shows a message box, duoramic-cli one that prints to
// standard error, and without either the warnings are dropped.
#pragma once

#include <string_view>

// String-table ids of the reader's texts.
constexpr int kListErrorCaptionString = 2505;  // "実行エラー"
constexpr int kListCannotOpenString = 2681;    // "スライドショーリストを開けません"

class ListMessageSink {
 public:
  virtual ~ListMessageSink() = default;
  // A warning for the user: `caption` and `text` come from the string table,
  // `listPath` names the list concerned (the message box does not show it).
  virtual void ListWarning(std::string_view caption, std::string_view text,
                           std::string_view listPath) = 0;
};

// Installs `sink` for every later read; null restores the silent default.
// The sink must outlive its installation.
void SetListMessageSink(ListMessageSink* sink);

// The sink now installed (the silent default when none is).
ListMessageSink& CurrentListMessageSink();
