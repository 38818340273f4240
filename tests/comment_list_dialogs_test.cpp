// The comment dialog and the list maker's panel in the window: what they
// show, and what their buttons write.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "image/comment.h"
#include "image/jpeg_reader.h"
#include "shell/command_table.h"
#include "shell/comment_dialog.h"
#include "shell/list_maker_dialog.h"
#include "core/viewer_state.h"
#include "tests/window_test_support.h"

namespace {

namespace fs = std::filesystem;

std::string Copied(const std::string& sample, const std::string& as) {
  fs::path folder = fs::temp_directory_path() /
                    ("duoramic-dialogs-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  std::string path = (folder / as).string();
  fs::copy_file(kSamples + sample, path, fs::copy_options::overwrite_existing);
  return path;
}

std::string FileComment(const std::string& path) {
  ClearCurrentComment();
  ReadJpegComment(path);
  return CurrentComment;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

template <typename Widget>
Widget* Child(QObject& parent, int id) {
  return parent.findChild<Widget*>(QString::number(id));
}

class CommentDialogTest : public WindowTest {
 protected:
  void PrepareWindow() override { window_->SetComments(&editor_); }
  // K with the dialog answered: `text` typed and OK pressed.
  void CommentWith(const std::string& text) {
    dialogs_.run = [&](QDialog& d) {
      EXPECT_EQ(d.objectName(), "COMMENT");
      EXPECT_EQ(Child<QLabel>(d, IDC_COMMENT_LEFT)->text().toStdString(),
                Viewer.ShownLeftPath);
      Child<QLineEdit>(d, IDC_COMMENT_TEXT)->setText(QString::fromStdString(text));
      return int(QDialog::Accepted);
    };
    Key(Qt::Key_K);
  }
  JpegCommentDialog editor_{dialogs_};
};

TEST_F(CommentDialogTest, APairOfJpegsGetsTheCommentInBothFiles) {
  std::string left = Copied("scene_L.jpg", "pairL.jpg");
  std::string right = Copied("scene_R.jpg", "pairR.jpg");
  ShowPair(left, right);
  CommentWith("両方 both");
  EXPECT_EQ(FileComment(left), "両方 both");
  EXPECT_EQ(FileComment(right), "両方 both");
  // The item was read again: the overlay now has the new comment.
  EXPECT_STREQ(CurrentComment, "両方 both");
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(CommentDialogTest, ARightFileThatIsNoJpegIsLeftAlone) {
  std::string left = Copied("scene_L.jpg", "mixedL.jpg");
  std::string right = Copied("scene.pns", "mixedR.png");
  std::string before = ReadText(right);
  ShowPair(left, right);
  CommentWith("left only");
  EXPECT_EQ(FileComment(left), "left only");
  EXPECT_EQ(ReadText(right), before);
}

TEST_F(CommentDialogTest, AFileThatCannotTakeTheCommentIsNamedAndTheDialogStays) {
  // A PNG under a JPEG name: the writer refuses it without a message of its
  // own, so the dialog must say why.
  std::string left = Copied("scene.pns", "reallyPngL.jpg");
  std::string right = Copied("scene_R.jpg", "waitingR.jpg");
  std::string leftBefore = ReadText(left), rightBefore = ReadText(right);
  ShowPair(left, right);
  ASSERT_EQ(Viewer.ShownLeftPath, left);
  std::string shownComment = CurrentComment;
  int runs = 0;
  dialogs_.run = [&](QDialog& d) {
    auto* field = Child<QLineEdit>(d, IDC_COMMENT_TEXT);
    if (++runs == 1) {
      field->setText("書けない");
      return int(QDialog::Accepted);
    }
    // Back after the message, the text kept for another try.
    EXPECT_EQ(field->text().toStdString(), "書けない");
    return int(QDialog::Rejected);
  };
  Key(Qt::Key_K);
  EXPECT_EQ(runs, 2);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_NE(dialogs_.messages[0].find(left), std::string::npos);
  EXPECT_NE(dialogs_.messages[0].find("JPEGファイルではない"), std::string::npos)
      << dialogs_.messages[0];
  EXPECT_EQ(ReadText(left), leftBefore);
  // The right view does not take a comment its left view lacks.
  EXPECT_EQ(ReadText(right), rightBefore);
  EXPECT_EQ(CurrentComment, shownComment);
}

class ListMakerPanelTest : public WindowTest {
 protected:
  void PrepareWindow() override { window_->SetLists(&maker_); }
  ListMakerDialog maker_{dialogs_};
};

TEST_F(ListMakerPanelTest, PanelAddsSelectedAndAllFilesAndStaysOpen) {
  std::string a = Copied("scene_L.jpg", "a.jpg");
  Copied("scene_R.jpg", "b b.jpg");
  Copied("scene.mpo", "c.mpo");
  std::string folder = fs::path(a).parent_path().string();
  std::string list = folder + "/made.txt";
  fs::remove(list);
  dialogs_.run = [&](QDialog& d) {
    auto& dialog = static_cast<QFileDialog&>(d);
    EXPECT_EQ(d.windowTitle().toStdString(), "スライドショーリストの作成");
    // Within the screen, and the detail columns never cut their texts.
    QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(d.height(), free.height());
    auto* tree = d.findChild<QTreeView*>("treeView");
    EXPECT_TRUE(tree && tree->header()->sectionResizeMode(1) ==
                            QHeaderView::ResizeToContents);
    QWidget* panel = d.findChild<QWidget*>("MAKESSCRIPT");
    EXPECT_TRUE(panel);
    auto* open = d.findChild<QDialogButtonBox*>("buttonBox")
                     ->button(QDialogButtonBox::Open);
    EXPECT_TRUE(open->isHidden());
    auto* useRight = Child<QCheckBox>(d, IDC_MAKER_USE_RIGHT_FOLDER);
    EXPECT_TRUE(useRight->isHidden());
    Child<QRadioButton>(d, IDC_MAKER_PAIR_FILES)->click();
    EXPECT_FALSE(useRight->isHidden());
    Child<QRadioButton>(d, IDC_MAKER_STEREO_FILES)->click();

    dialog.setDirectory(QString::fromStdString(folder));
    Child<QLineEdit>(d, IDC_MAKER_LIST_PATH)->setText(QString::fromStdString(list));
    d.findChild<QLineEdit*>("fileNameEdit")->setText("\"b b.jpg\" \"a.jpg\"");
    Child<QPushButton>(d, IDC_MAKER_ADD_SELECTED)->click();
    // Only the movies of the folder: none.
    dialog.selectNameFilter(dialog.nameFilters()[2]);
    Child<QPushButton>(d, IDC_MAKER_ADD_ALL)->click();
    // Accepting with a file name does not close the dialog.
    d.accept();  // the override runs
    EXPECT_EQ(d.result(), QDialog::Rejected);
    return int(QDialog::Rejected);
  };
  Run(CMD_MAKE_LIST);
  std::string text = ReadText(list);
  EXPECT_NE(text.find("\n11;0;0;0;0;a.jpg;;;\n11;0;0;0;0;b b.jpg;;;\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("c.mpo"), std::string::npos);
  EXPECT_EQ(dialogs_.messages,
            (std::vector<std::string>{
                "2個のファイルをスライドショーリストに追加しました",
                "0個のファイルをスライドショーリストに追加しました"}));
  EXPECT_EQ(maker_.KeptValues().listPath, list);
}

}  // namespace
