#include "shell/list_maker_dialog.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "image/file_names.h"
#include "resources/string_table.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/settings_store.h"
#include "core/viewer_state.h"

namespace {

// Description and patterns of the file-type list, in its order.
constexpr const char* kFileTypes[] = {
    "Stereo Files (*.jpg *.jpeg *.jps *.gif *.bmp *.mpo *.png *.pns *.tif "
    "*.tiff *.avi *.qt *.mov *.mpg *.mpeg *.m1v *.wmv *.mp4 *.mts)",
    "Image Files (*.jpg *.jpeg *.jps *.gif *.bmp *.png *.pns *.tif *.tiff)",
    "Video Files (*.avi *.qt *.mov *.mpg *.mpeg *.m1v *.wmv *.mp4 *.mts)",
    "All Files (*)",
};
const char kRightFolderTitle[] = "Please select Right image folder";

QString Id(int id) { return QString::number(id); }

template <typename Widget>
Widget* Named(Widget* widget, int id) {
  widget->setObjectName(Id(id));
  return widget;
}

std::string Text(const QLineEdit* field) { return field->text().toStdString(); }

// Adding never closes the dialog: accepting only enters a folder typed into
// the name box; a file name there (or a double click on a file) does
// nothing, the panel's buttons add.
class MakerFileDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;
  void accept() override {
    auto* name = findChild<QLineEdit*>("fileNameEdit");
    QString typed = name ? name->text() : QString();
    if (!typed.isEmpty() && QFileInfo(directory().absoluteFilePath(typed)).isDir())
      QFileDialog::accept();
  }
};

class BoxMessages : public ListMakerMessages {
 public:
  BoxMessages(UserDialogs& dialogs, QWidget* owner)
      : dialogs_(dialogs), owner_(owner) {}
  void Warning(std::string_view text, std::string_view caption) override {
    dialogs_.Message(owner_, text, caption, true);
  }
  void Notice(std::string_view text, std::string_view caption) override {
    dialogs_.Message(owner_, text, caption, false);
  }

 private:
  UserDialogs& dialogs_;
  QWidget* owner_;
};

// The panel's widgets and what its buttons do.
class MakerPanel {
 public:
  MakerPanel(QFileDialog& dialog, UserDialogs& dialogs,
             ListMakerDialog::Kept& kept)
      : dialog_(dialog), dialogs_(dialogs), kept_(kept) {
    Build();
    Connect();
    ShowRightFolderControls();
  }

 private:
  void Build();
  void Connect();
  void ShowRightFolderControls();
  void ChooseForm(int form);
  void ChooseListFile();
  void ChooseRightFolder();
  void EditList();
  void DeleteList();
  void AddSelected();
  void AddAll();
  void Add(const std::vector<std::string>& names);
  std::string DialogFolder() const;

  QFileDialog& dialog_;
  UserDialogs& dialogs_;
  ListMakerDialog::Kept& kept_;
  QWidget* panel_ = nullptr;
  QRadioButton* stereoFiles_ = nullptr;
  QRadioButton* pairFiles_ = nullptr;
  QCheckBox* useRightFolder_ = nullptr;
  QLineEdit* rightFolder_ = nullptr;
  QPushButton* rightBrowse_ = nullptr;
  QLineEdit* interval_ = nullptr;
  QCheckBox* swap_ = nullptr;
  QLineEdit* comment_ = nullptr;
  QCheckBox* fullPath_ = nullptr;
  QCheckBox* lowerCase_ = nullptr;
  QLineEdit* listPath_ = nullptr;
};

void MakerPanel::Build() {
  panel_ = new QWidget(&dialog_);
  panel_->setObjectName("MAKESSCRIPT");
  QWidget* p = panel_;
  stereoFiles_ = Named(new QRadioButton("ステレオ映像(SBS、MPO、3D-AVI)", p),
                       IDC_MAKER_STEREO_FILES);
  pairFiles_ = Named(new QRadioButton("左右別映像（左右２つのファイル）", p),
                     IDC_MAKER_PAIR_FILES);
  (kept_.inputForm == kPairFilesForm ? pairFiles_ : stereoFiles_)
      ->setChecked(true);
  useRightFolder_ =
      Named(new QCheckBox("右画像フォルダ：", p), IDC_MAKER_USE_RIGHT_FOLDER);
  useRightFolder_->setChecked(kept_.useRightFolder);
  rightFolder_ = Named(new QLineEdit(p), IDC_MAKER_RIGHT_FOLDER);
  rightFolder_->setText(ToQString(kept_.rightFolder));
  rightBrowse_ = Named(new QPushButton("参照...", p), IDC_MAKER_RIGHT_BROWSE);
  interval_ = Named(new QLineEdit("0", p), IDC_MAKER_INTERVAL);
  interval_->setValidator(
      new QRegularExpressionValidator(QRegularExpression("[0-9]*"), interval_));
  interval_->setMaximumWidth(80);
  swap_ = Named(new QCheckBox("左右画像交換", p), IDC_MAKER_SWAP);
  swap_->setChecked(kept_.swap);
  comment_ = Named(new QLineEdit(p), IDC_MAKER_COMMENT);
  fullPath_ = Named(
      new QCheckBox("リスト中の画像ファイルをフルパスで指定する", p),
      IDC_MAKER_FULL_PATH);
  fullPath_->setChecked(kept_.fullPath);
  lowerCase_ = Named(
      new QCheckBox("リスト中の画像ファイル名を小文字にする", p),
      IDC_MAKER_LOWER_CASE);
  lowerCase_->setChecked(kept_.lowerCase);
  listPath_ = Named(new QLineEdit(p), IDC_MAKER_LIST_PATH);
  listPath_->setText(ToQString(kept_.listPath));

  auto* form = new QHBoxLayout;
  form->addWidget(stereoFiles_);
  form->addWidget(pairFiles_);
  form->addStretch();
  auto* right = new QHBoxLayout;
  right->addWidget(useRightFolder_);
  right->addWidget(rightFolder_, 1);
  right->addWidget(rightBrowse_);
  auto* options = new QGridLayout;
  options->addWidget(new QLabel("スライドショー間隔：", p), 0, 0);
  auto* interval = new QHBoxLayout;
  interval->addWidget(interval_);
  interval->addWidget(
      new QLabel("× 0.1秒（0：再生時のスライドショー間隔）", p), 1);
  options->addLayout(interval, 0, 1);
  options->addWidget(swap_, 0, 2);
  options->addWidget(new QLabel("コメント：", p), 1, 0);
  options->addWidget(comment_, 1, 1);
  options->addWidget(Named(new QPushButton("消去", p), IDC_MAKER_CLEAR_COMMENT),
                     1, 2);
  auto* group = new QGroupBox("スライドショーリスト", p);
  auto* list = new QHBoxLayout(group);
  list->addWidget(listPath_, 1);
  list->addWidget(Named(new QPushButton("参照", p), IDC_MAKER_LIST_BROWSE));
  list->addWidget(Named(new QPushButton("編集", p), IDC_MAKER_EDIT_LIST));
  list->addWidget(Named(new QPushButton("削除", p), IDC_MAKER_DELETE_LIST));
  auto* add = new QHBoxLayout;
  add->addStretch();
  add->addWidget(
      Named(new QPushButton("選択画像追加開始", p), IDC_MAKER_ADD_SELECTED));
  add->addWidget(
      Named(new QPushButton("全画像追加開始", p), IDC_MAKER_ADD_ALL));
  auto* layout = new QVBoxLayout(panel_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(form);
  layout->addLayout(right);
  layout->addLayout(options);
  layout->addWidget(fullPath_);
  layout->addWidget(lowerCase_);
  layout->addWidget(group);
  layout->addLayout(add);

  // Below everything the file dialog has, across its whole width.
  if (auto* grid = qobject_cast<QGridLayout*>(dialog_.layout()))
    grid->addWidget(panel_, grid->rowCount(), 0, 1, grid->columnCount());
  else if (dialog_.layout())
    dialog_.layout()->addWidget(panel_);
  if (auto* box = dialog_.findChild<QDialogButtonBox*>("buttonBox"))
    if (QPushButton* open = box->button(QDialogButtonBox::Open)) open->hide();
}

void MakerPanel::Connect() {
  auto clicked = [this](int id, void (MakerPanel::*action)()) {
    auto* button = panel_->findChild<QPushButton*>(Id(id));
    QObject::connect(button, &QPushButton::clicked, panel_,
                     [this, action] { (this->*action)(); });
  };
  clicked(IDC_MAKER_LIST_BROWSE, &MakerPanel::ChooseListFile);
  clicked(IDC_MAKER_RIGHT_BROWSE, &MakerPanel::ChooseRightFolder);
  clicked(IDC_MAKER_EDIT_LIST, &MakerPanel::EditList);
  clicked(IDC_MAKER_DELETE_LIST, &MakerPanel::DeleteList);
  clicked(IDC_MAKER_ADD_SELECTED, &MakerPanel::AddSelected);
  clicked(IDC_MAKER_ADD_ALL, &MakerPanel::AddAll);
  QObject::connect(panel_->findChild<QPushButton*>(Id(IDC_MAKER_CLEAR_COMMENT)),
                   &QPushButton::clicked, comment_, &QLineEdit::clear);
  QObject::connect(stereoFiles_, &QRadioButton::clicked, panel_,
                   [this] { ChooseForm(kStereoFilesForm); });
  QObject::connect(pairFiles_, &QRadioButton::clicked, panel_,
                   [this] { ChooseForm(kPairFilesForm); });
  QObject::connect(useRightFolder_, &QCheckBox::toggled, panel_, [this] {
    kept_.useRightFolder = useRightFolder_->isChecked();
    ShowRightFolderControls();
  });
  auto keep = [this](QCheckBox* box, bool& into) {
    QObject::connect(box, &QCheckBox::toggled, panel_,
                     [&into](bool on) { into = on; });
  };
  keep(swap_, kept_.swap);
  keep(fullPath_, kept_.fullPath);
  keep(lowerCase_, kept_.lowerCase);
  QObject::connect(listPath_, &QLineEdit::textChanged, panel_,
                   [this] { kept_.listPath = Text(listPath_); });
  QObject::connect(rightFolder_, &QLineEdit::textChanged, panel_,
                   [this] { kept_.rightFolder = Text(rightFolder_); });
}

void MakerPanel::ShowRightFolderControls() {
  bool pairs = kept_.inputForm == kPairFilesForm;
  useRightFolder_->setVisible(pairs);
  rightFolder_->setVisible(pairs && useRightFolder_->isChecked());
  rightBrowse_->setVisible(pairs && useRightFolder_->isChecked());
}

void MakerPanel::ChooseForm(int form) {
  kept_.inputForm = form;
  WriteSetting("nSSin", std::to_string(form));
  ShowRightFolderControls();
}

std::string MakerPanel::DialogFolder() const {
  return WithTrailingSlash(dialog_.directory().absolutePath().toStdString());
}

void MakerPanel::ChooseListFile() {
  QFileDialog chooser(panel_, ToQString(StringText(kMakerListFileTitleString)),
                      ToQString(DialogFolder()), "Text File (*.TXT *.txt)");
  chooser.setOption(QFileDialog::DontUseNativeDialog);
  chooser.setOption(QFileDialog::DontConfirmOverwrite);
  chooser.setAcceptMode(QFileDialog::AcceptSave);  // a new name is allowed
  chooser.setFileMode(QFileDialog::AnyFile);
  chooser.setDefaultSuffix("txt");
  if (!kept_.listPath.empty()) chooser.selectFile(ToQString(kept_.listPath));
  if (dialogs_.RunModal(chooser) != QDialog::Accepted) return;
  QStringList chosen = chooser.selectedFiles();
  if (!chosen.isEmpty()) listPath_->setText(chosen.first());
}

void MakerPanel::ChooseRightFolder() {
  QString folder = QFileDialog::getExistingDirectory(
      panel_, kRightFolderTitle, QString(),
      QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (!folder.isEmpty()) rightFolder_->setText(folder);
}

void MakerPanel::EditList() {
  if (kept_.listPath.empty()) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(ToQString(kept_.listPath)));
}

void MakerPanel::DeleteList() {
  if (kept_.listPath.empty()) return;
  if (dialogs_.AskYesNo(panel_, StringText(kMakerDeleteString), kept_.listPath,
                        YesNoPrompt::kQuestion))
    std::remove(kept_.listPath.c_str());
}

void MakerPanel::AddSelected() {
  auto* box = dialog_.findChild<QLineEdit*>("fileNameEdit");
  std::string text = box ? Text(box) : std::string();
  if (text.empty()) return;
  std::vector<std::string> names;
  if (text.front() == '"') names = SplitQuotedNames(text);
  if (text.front() == '"' && names.empty()) return;
  if (names.size() <= 1) {
    // One name: the one the dialog itself resolved.
    QStringList selected = dialog_.selectedFiles();
    if (selected.isEmpty()) return;
    names = {FileNameOf(selected.first().toStdString())};
  }
  std::string folder = DialogFolder();
  std::vector<std::string> files;
  for (const std::string& name : names)
    if (QFileInfo(ToQString(folder + name)).isFile()) files.push_back(name);
  if (!files.empty()) Add(files);
}

void MakerPanel::AddAll() {
  // The 1-based entry of the file-type list chosen now; a new dialog starts
  // at the first.
  int fileType = dialog_.nameFilters().indexOf(dialog_.selectedNameFilter()) + 1;
  Add(ListMakerFolderFiles(DialogFolder(), fileType));
}

void MakerPanel::Add(const std::vector<std::string>& names) {
  ListMakerSettings settings;
  settings.listPath = Text(listPath_);
  settings.inputForm = kept_.inputForm;
  settings.useRightFolder = useRightFolder_->isChecked();
  settings.rightFolder = Text(rightFolder_);
  settings.interval = static_cast<unsigned>(ParseIntervalField(Text(interval_)));
  settings.swap = swap_->isChecked();
  settings.comment = Text(comment_);
  settings.fullPath = fullPath_->isChecked();
  settings.lowerCase = lowerCase_->isChecked();
  BoxMessages messages(dialogs_, &dialog_);
  AddListEntries(settings, DialogFolder(), names, messages);
}

}  // namespace

void ListMakerDialog::MakeList(QWidget* owner) {
  MakerFileDialog dialog(owner, ToQString(StringText(kMakerTitleString)));
  dialog.setObjectName("MAKELIST");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  QStringList filters;
  for (const char* type : kFileTypes) filters << type;
  dialog.setNameFilters(filters);
  if (!Viewer.OpenFolder.empty())
    dialog.setDirectory(ToQString(Viewer.OpenFolder));
  MakerPanel panel(dialog, dialogs_, kept_);
  FitFileDialogColumns(dialog);
  // Room for a dozen of the folder's files above the panel, within the
  // screen's free area.
  QSize size(std::max(dialog.sizeHint().width(), 840),
             dialog.sizeHint().height() + 120);
  if (QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
  dialog.resize(size);
  dialogs_.RunModal(dialog);
}
