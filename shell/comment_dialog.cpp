#include "shell/comment_dialog.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "image/comment.h"
#include "image/file_names.h"
#include "image/jpeg_comment_writer.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "core/viewer_state.h"

namespace {

QString Id(int id) { return QString::number(id); }

QPushButton* Button(QDialog& dialog, int id, const char* text) {
  auto* button = new QPushButton(QString::fromUtf8(text), &dialog);
  button->setObjectName(Id(id));
  QObject::connect(button, &QPushButton::clicked, &dialog,
                   id == IDOK ? &QDialog::accept : &QDialog::reject);
  return button;
}

QLabel* PathLine(QDialog& dialog, int id, const char* initial,
                 const std::string& path) {
  auto* label = new QLabel(QString::fromUtf8(initial), &dialog);
  label->setObjectName(Id(id));
  label->setText(ToQString(path));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

// The field never holds more than a COM segment can carry: text typed or
// pasted past 255 bytes is cut at the last whole character.
void LimitToCommentBytes(QLineEdit* field) {
  QObject::connect(field, &QLineEdit::textChanged, field, [field] {
    std::string text = field->text().toStdString();
    std::string cut = JpegCommentText(text);
    if (cut.size() != text.size()) field->setText(ToQString(cut));
  });
}

void StoreCurrentComment(const std::string& text) {
  std::string cut = JpegCommentText(text);
  std::memcpy(CurrentComment, cut.data(), cut.size());
  CurrentComment[cut.size()] = 0;
}

// Why the writer failed, for the results that bring no message of their own.
const char* FailureText(int result) {
  switch (result) {
    case kCommentNotJpeg:
      return "JPEGファイルではない為、コメントが埋め込めません。";
    case kCommentUnreadable:
      return "通常のファイルでないか大きすぎる為、コメントが埋め込めません。";
    case kCommentReadFailed:
      return "ファイルが読み込めない為、コメントが埋め込めません。";
    default:
      return "コメントが埋め込めません。ファイルは変更されていません。";
  }
}

// Writes `comment` into `path`.  True when written; otherwise the user has
// been told why (by the writer or here), naming the file.
bool WriteNamingFailure(UserDialogs& dialogs, QWidget* owner,
                        const std::string& path, const std::string& comment) {
  bool told = false;
  JpegCommentHooks hooks;
  hooks.warn = [&](std::string_view message, std::string_view caption) {
    dialogs.Message(owner, message, caption, true);
    told = true;
  };
  int result = WriteJpegComment(path, comment, hooks);
  if (result == kCommentTimesNotKept) {
    dialogs.Message(owner,
                    path + "\nコメントを埋め込みましたが、ファイルの日付を"
                           "保てませんでした。",
                    "確認", false);
    return true;
  }
  if (result == kCommentWritten) return true;
  if (!told)
    dialogs.Message(owner, path + "\n" + FailureText(result), "実行エラー",
                    true);
  return false;
}

}  // namespace

int JpegCommentDialog::EditComment(QWidget* owner, const std::string& path) {
  QDialog dialog(owner);
  dialog.setObjectName("COMMENT");
  dialog.setWindowTitle("JPEGファイルにコメント追加");
  auto* text = new QLineEdit(&dialog);
  text->setObjectName(Id(IDC_COMMENT_TEXT));
  LimitToCommentBytes(text);
  text->setText(QString::fromUtf8(CurrentComment));
  text->setMinimumWidth(360);
  std::string right = Viewer.ShownRightPath;
  QPushButton* ok = Button(dialog, IDOK, "OK");
  ok->setDefault(true);

  auto* field = new QHBoxLayout;
  field->addWidget(new QLabel("コメント：", &dialog));
  field->addWidget(text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(Button(dialog, IDCANCEL, "ｷｬﾝｾﾙ"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(field);
  layout->addWidget(PathLine(dialog, IDC_COMMENT_LEFT, "左画像", path));
  layout->addWidget(PathLine(dialog, IDC_COMMENT_RIGHT, "右画像", right));
  layout->addLayout(buttons);

  // A file that cannot take the comment brings the dialog back, text and
  // all, after the message: the user may try again or cancel.
  bool written = false;
  bool withRight =
      !right.empty() && right != path && FileKindMatches(right, JpegKind);
  while (dialogs_.RunModal(dialog) == QDialog::Accepted) {
    std::string comment = JpegCommentText(text->text().toStdString());
    bool left = WriteNamingFailure(dialogs_, owner, path, comment);
    written = written || left;
    // The right view takes the comment only when the left one has it.
    bool both = left && (!withRight ||
                         WriteNamingFailure(dialogs_, owner, right, comment));
    if (both) {
      StoreCurrentComment(comment);
      return 1;
    }
  }
  // Cancelled: a file already written is shown again with its comment.
  return written ? 1 : 0;
}
