// The "COMMENT" dialog: edits the comment of the JPEG file(s) on display
// and writes it into the left file and, when it is a JPEG too, the right.
#pragma once

#include <string>

#include "shell/later_features.h"

class QDialog;
struct UserDialogs;

// The dialog's controls, by id (also their object names).
constexpr int IDC_COMMENT_TEXT = 1507;
constexpr int IDC_COMMENT_LEFT = 1209;
constexpr int IDC_COMMENT_RIGHT = 1210;

class JpegCommentDialog : public CommentEditor {
 public:
  // Runs the dialog and shows messages through `dialogs`.
  explicit JpegCommentDialog(UserDialogs& dialogs) : dialogs_(dialogs) {}
  // 1 when a file took the comment, 0 when none did.  A file that cannot
  // take it is named in a message with the reason, and the dialog comes
  // back with the text for another try or Cancel.
  int EditComment(QWidget* owner, const std::string& path) override;

 private:
  UserDialogs& dialogs_;
};
