// The 360 viewer's page files: the four page values, the filled page as
// written, the private folder, and the options panel of the open dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "shell/main_window.h"
#include "shell/settings_store.h"
#include "core/viewer_state.h"
#include "viewer360/options_panel.h"
#include "viewer360/page_text.h"
#include "viewer360/panorama_window.h"
#include "viewer360/viewer_files.h"

namespace {

std::string ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll().toStdString();
}

// The ThView line of the page written for `path`.
std::string PageLine(const std::string& path, int mode, int swap) {
  QTemporaryDir dir;
  EXPECT_EQ(WriteViewerFiles(dir.path().toStdString(), path, mode, swap), 0);
  std::string page = ReadAll(dir.path() + "/theta.html");
  size_t start = page.find("var img1");
  if (start == std::string::npos) return page;
  return page.substr(start, page.find('\n', start) - start);
}

TEST(PageFiles, AWindowsPictureGetsItsKindMethodSwapAndDoubledBackslashes) {
  EXPECT_EQ(PageLine("D:\\pics\\pano.JPG", 0, 1),
            "var img1 = new ThView({id:'image1',file:['p','1','1',"
            "'D:\\\\pics\\\\pano.JPG'],});");
  EXPECT_EQ(PageLine("/pics/pano.jpg", 3, 0),
            "var img1 = new ThView({id:'image1',file:['p','4','0',"
            "'/pics/pano.jpg'],});");
}

TEST(PageFiles, StillsTheBrowserDecodesArePicturesEverythingElseAMovie) {
  for (const char* path : {"/p/a.mp4", "/p/a.WEBM", "/p/a.jpg.mp4",
                           "/p/noext", "/p/x.jpg/noext", "/p/a.mpo"})
    EXPECT_EQ(PageParametersFor(path, 0, false).kind, 'm') << path;
  for (const char* path : {"/p/a.Jpg", "/p/a.jpeg", "/p/a.JPS", "/p/a.png",
                           "/p/a.pns"})
    EXPECT_EQ(PageParametersFor(path, 0, false).kind, 'p') << path;
}

TEST(PageFiles, OneViewIsTypeZeroAndHalfOverUnderTypeEight) {
  EXPECT_EQ(StereoTypeForMode(8), 0);
  EXPECT_EQ(StereoTypeForMode(7), 8);
  EXPECT_EQ(StereoTypeForMode(1), 2);
  EXPECT_EQ(StereoTypeForMode(9), 1);   // a bad stored value: side by side
  EXPECT_EQ(StereoTypeForMode(-1), 1);
  EXPECT_NE(PageLine("/p/a.mp4", 8, 0).find("['m','0','0',"), std::string::npos);
}

TEST(PageFiles, NamesWithQuotesLineBreaksOrScriptEndsStayInsideTheString) {
  EXPECT_EQ(EscapeForScriptString("/p/it's \"x\".jpg"),
            "/p/it\\'s \\\"x\\\".jpg");
  EXPECT_EQ(EscapeForScriptString("a\nb\rc</script>"),
            "a\\nb\\rc\\x3C/script>");
  EXPECT_EQ(EscapeForScriptString("a\xE2\x80\xA8" "b\xE2\x80\xA9"), "a\\u2028b\\u2029");
  EXPECT_EQ(EscapeForScriptString("写真\\"), "写真\\\\");  // UTF-8 untouched
  EXPECT_NE(PageLine("/p/it's.jpg", 0, 0).find("'/p/it\\'s.jpg'"),
            std::string::npos);
}

TEST(PageFiles, TheTemplatesOwnPercentSignsAndSurplusPlaceholdersStay) {
  PageParameters p = PageParametersFor("/a.jpg", 0, false);
  EXPECT_EQ(FillPageTemplate("100%% %s %d %d %s %s %x", p),
            "100% p 1 0 /a.jpg %s %x");
}

TEST(PageFiles, AllThreeFilesAreWrittenWholeAndReplaceOlderOnes) {
  QTemporaryDir dir;
  QFile old(dir.path() + "/theta.html");
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write(QByteArray(100000, 'x'));
  old.close();
  ASSERT_EQ(WriteViewerFiles(dir.path().toStdString() + "/", "/a.jpg", 0, 0), 0);
  std::string page = ReadAll(dir.path() + "/theta.html");
  EXPECT_EQ(page.find('x' + std::string(10, 'x')), std::string::npos);
  for (const char* id : {"image1", "files", "button0", "button6"})
    EXPECT_NE(page.find(std::string("id=\"") + id + "\""), std::string::npos) << id;
  EXPECT_EQ(ReadAll(dir.path() + "/thview3dkv.js"), ReadAll(":/viewer360/thview3dkv.js"));
  std::string three = ReadAll(dir.path() + "/three.min.js");
  EXPECT_EQ(three.rfind("var THREE=", 0), 0u);  // a classic script's global
  EXPECT_GT(three.size(), 300000u);
  EXPECT_EQ(WriteViewerFiles("/nonexistent/folder", "/a.jpg", 0, 0), -1);
}

TEST(PageFiles, TheViewersFolderIsPrivateAndNeverSomeoneElsesLink) {
  QTemporaryDir runtime;
  QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  std::string folder = ViewerFolder();
  ASSERT_EQ(folder, runtime.path().toStdString() + "/duoramic-360/");
  struct stat info;
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  // Too open: closed again.  A link planted in its place: refused.
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(ViewerFolder(), folder);
  ::stat(folder.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ::rmdir(folder.c_str());
  QTemporaryDir elsewhere;
  ASSERT_EQ(::symlink(elsewhere.path().toUtf8().constData(),
                      (runtime.path() + "/duoramic-360").toUtf8().constData()), 0);
  EXPECT_EQ(ViewerFolder(), "");
  qputenv("XDG_RUNTIME_DIR", saved);
}

template <typename T>
T* Child(QWidget* panel, int id) {
  return panel->findChild<T*>(QString::number(id));
}

TEST(OptionsPanel, ShowsTheSettingsAndKeepsEachChange) {
  Viewer.n360mode = 4;
  Viewer.n360swap = 1;
  bool useBrowser = false;
  std::unique_ptr<QWidget> panel(CreateOptionsPanel(nullptr, useBrowser));
  EXPECT_EQ(panel->objectName(), "OPENSS");
  for (int id = 1430; id <= 1438; ++id)
    EXPECT_EQ(Child<QRadioButton>(panel.get(), id)->isChecked(), id == 1434);
  EXPECT_EQ(Child<QRadioButton>(panel.get(), 1438)->text(), "片側画像");
  EXPECT_TRUE(Child<QCheckBox>(panel.get(), 3141)->isChecked());
  EXPECT_EQ(Child<QCheckBox>(panel.get(), 1209)->text(), "外部ブラウザで表示する");

  Child<QRadioButton>(panel.get(), 1437)->click();
  EXPECT_EQ(Viewer.n360mode, 7);
  EXPECT_EQ(ReadSetting("n360mode"), "7");
  Child<QCheckBox>(panel.get(), 3141)->click();
  EXPECT_EQ(Viewer.n360swap, 0);
  EXPECT_EQ(ReadSetting("n360swap"), "0");
  Child<QCheckBox>(panel.get(), 1209)->click();
  EXPECT_TRUE(useBrowser);
  EXPECT_EQ(ReadSetting("UseEdge"), "");  // for this run only
}

TEST(OptionsPanel, SitsBelowTheOpenDialogWhichTakesSeveralFiles) {
  MainWindow window;
  PanoramaWindow viewer(window);
  window.SetPanorama(&viewer);
  bool found = false, multiple = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    found = dialog->findChild<QWidget*>("OPENSS") != nullptr;
    multiple = dialog->fileMode() == QFileDialog::ExistingFiles;
    dialog->reject();
  });
  window.DispatchCommand(4000);
  EXPECT_TRUE(found);
  EXPECT_TRUE(multiple);
}

TEST(PanoramaWindow, TheUsersBrowserGetsThePageWrittenForTheItem) {
  QTemporaryDir dir;
  MainWindow window;
  PanoramaWindow viewer(window);
  viewer.UseBrowser = true;
  viewer.Folder = dir.path().toStdString() + "/";
  std::string opened;
  viewer.OpenInBrowser = [&](const std::string& page) {
    opened = page;
    return false;
  };
  Viewer.n360mode = 5;
  viewer.ShowFullScreen("/pics/room.mp4", true);
  EXPECT_EQ(opened, viewer.Folder + "theta.html");
  EXPECT_NE(ReadAll(QString::fromStdString(opened)).find("['m','6','1','/pics/room.mp4']"),
            std::string::npos);
  EXPECT_EQ(viewer.OpenDialog(), nullptr);
  EXPECT_FALSE(Viewer.FullScreen);  // the browser has its own window
  // A browser that does not start is said in the title.
  EXPECT_NE(window.windowTitle().toStdString().find("browser"), std::string::npos);
}

TEST(PanoramaWindow, WithoutItsLibraryTheHostedViewerFallsBackToTheBrowser) {
  QTemporaryDir dir;
  MainWindow window;
  PanoramaWindow viewer(window);
  viewer.UseBrowser = false;
  viewer.Folder = dir.path().toStdString() + "/";
  // Neither a missing file nor a file that is no library is loaded.
  QFile notALibrary(dir.path() + "/libduoramic_hosted360.so");
  ASSERT_TRUE(notALibrary.open(QIODevice::WriteOnly));
  notALibrary.write("not an ELF file");
  notALibrary.close();
  for (std::string library : {dir.path().toStdString() + "/missing.so",
                              notALibrary.fileName().toStdString()}) {
    viewer.HostedViewerLibrary = library;
    std::vector<std::string> opened;
    std::vector<int> sent;
    viewer.OpenInBrowser = [&](const std::string& page) {
      opened.push_back(page);
      return true;
    };
    viewer.Send = [&](int id) { sent.push_back(id); };
    Viewer.FullScreen = false;
    viewer.ShowFullScreen("/pics/room.jpg", false);
    EXPECT_EQ(opened, std::vector<std::string>{viewer.Folder + "theta.html"})
        << library;
    // Full screen is entered only for a viewer that opens.
    EXPECT_TRUE(sent.empty()) << library;
    EXPECT_EQ(viewer.OpenDialog(), nullptr);
  }
}

}  // namespace
