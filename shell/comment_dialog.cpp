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

  if (dialogs_.RunModal(dialog) != QDialog::Accepted) return 0;
  StoreCurrentComment(text->text().toStdString());
  JpegCommentHooks hooks;
  hooks.warn = [&](std::string_view message, std::string_view caption) {
    dialogs_.Message(owner, message, caption, true);
  };
  WriteJpegComment(path, CurrentComment, hooks);
  if (!right.empty() && right != path && FileKindMatches(right, JpegKind))
    WriteJpegComment(right, CurrentComment, hooks);
  return 1;
}
