// The hosted 360 viewer on a real X server: its window, the keys that leave
// it, one viewer at a time, and the slideshow's close request.
#include <QApplication>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <functional>
#include <vector>

#include "core/viewer_state.h"
#include "shell/command_table.h"
#include "tests/window_test_support.h"
#include "viewer360/panorama_window.h"

namespace {

class HostedViewerTest : public WindowTest {
 protected:
  void PrepareWindow() override {
    viewer_ = std::make_unique<PanoramaWindow>(*window_);
    viewer_->Folder = folder_.path().toStdString() + "/";
    viewer_->HostedViewerLibrary = DUORAMIC_HOSTED360;
    viewer_->Send = [this](int id) {
      sent_.push_back(id);
      Viewer.FullScreen = !Viewer.FullScreen;
    };
    viewer_->Post = [this](int id) { posted_.push_back(id); };
    window_->SetPanorama(viewer_.get());
    // The dialog runs modally for real.
    dialogs_.run = [](QDialog& dialog) { return dialog.exec(); };
  }
  void TearDown() override {
    window_->SetPanorama(nullptr);
    viewer_.reset();
    WindowTest::TearDown();
  }

  // Shows the item (full screen switch included) and, once the viewer is
  // up, runs `inside` with its dialog; returns when the viewer has closed.
  void ShowAndThen(std::function<void(QDialog&)> inside) {
    bool ran = false;
    QTimer::singleShot(0, window_.get(), [&] {
      QDialog* dialog = viewer_->OpenDialog();
      ASSERT_NE(dialog, nullptr);
      EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
      ran = true;
      inside(*dialog);
      // Whatever the keys did, never leave a test waiting on the dialog.
      QTimer::singleShot(0, dialog, [dialog] { dialog->reject(); });
    });
    viewer_->ShowFullScreen(DUORAMIC_SOURCE_DIR "/resources/samples/scene_L.jpg",
                            false);
    EXPECT_TRUE(ran);
    EXPECT_EQ(viewer_->OpenDialog(), nullptr);
  }

  static void Press(QDialog& dialog, Qt::Key key) {
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target ? target : &dialog, key);
  }

  QTemporaryDir folder_;
  std::unique_ptr<PanoramaWindow> viewer_;
  std::vector<int> sent_, posted_;
};

TEST_F(HostedViewerTest, IsFullScreenOnTheOwnersScreenWithoutAFrame) {
  ShowAndThen([](QDialog& dialog) {
    EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dialog.isModal());
    ASSERT_NE(dialog.parentWidget(), nullptr);
    EXPECT_EQ(dialog.screen(), dialog.parentWidget()->screen());
    EXPECT_EQ(dialog.geometry(), dialog.parentWidget()->screen()->geometry());
    auto* view = dialog.findChild<QWebEngineView*>("1001");
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->page()->requestedUrl().toLocalFile().endsWith("/theta.html"));
  });
}

TEST_F(HostedViewerTest, SpaceAndBackSpaceMoveOnAndClose) {
  Viewer.FullScreen = true;  // nothing to enter
  ShowAndThen([](QDialog& dialog) { Press(dialog, Qt::Key_Space); });
  ShowAndThen([](QDialog& dialog) { Press(dialog, Qt::Key_Backspace); });
  EXPECT_EQ(sent_, std::vector<int>{});
  EXPECT_EQ(posted_, (std::vector<int>{4007, 4008}));
}

TEST_F(HostedViewerTest, EscLeavesTheFullScreenEnteredForTheViewerOnlyOnce) {
  Viewer.FullScreen = false;
  ShowAndThen([](QDialog& dialog) { Press(dialog, Qt::Key_Q); });
  EXPECT_EQ(sent_, std::vector<int>{4010});  // entered for the viewer
  // Left with it, then back to the item shown before.
  EXPECT_EQ(posted_, (std::vector<int>{4010, CMD_LEAVE_360}));
  // Full screen the user had already: Esc only closes the viewer.
  Viewer.FullScreen = true;
  posted_.clear();
  ShowAndThen([](QDialog& dialog) { Press(dialog, Qt::Key_Escape); });
  EXPECT_EQ(posted_, std::vector<int>{CMD_LEAVE_360});
}

TEST_F(HostedViewerTest, OtherKeysStayWithThePageAndASecondShowDoesNotNavigate) {
  Viewer.FullScreen = true;
  ShowAndThen([this](QDialog& dialog) {
    Press(dialog, Qt::Key_X);
    Press(dialog, Qt::Key_Right);
    EXPECT_TRUE(dialog.isVisible());
    auto* view = dialog.findChild<QWebEngineView*>("1001");
    QUrl first = view->page()->requestedUrl();
    viewer_->Show("/elsewhere/other.jpg", true);  // returns at once
    EXPECT_EQ(viewer_->OpenDialog(), &dialog);
    EXPECT_EQ(view->page()->requestedUrl(), first);
    // The slideshow's close request ends it.
    viewer_->Close();
  });
  EXPECT_EQ(posted_, std::vector<int>{});
}

TEST_F(HostedViewerTest, ThePageHasWebGLThroughTheContextSharedOnFirstUse) {
  Viewer.FullScreen = true;
  QVariant webgl;
  ShowAndThen([&](QDialog& dialog) {
    auto* view = dialog.findChild<QWebEngineView*>("1001");
    ASSERT_NE(view, nullptr);
    bool answered = false;
    view->page()->runJavaScript(
        "(function() { var c = document.createElement('canvas');"
        " return !!(c.getContext('webgl') ||"
        " c.getContext('experimental-webgl')); })()",
        [&](const QVariant& result) {
          webgl = result;
          answered = true;
        });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered; }, 30000));
  });
  EXPECT_TRUE(webgl.toBool());
  EXPECT_NE(QOpenGLContext::globalShareContext(), nullptr);
  EXPECT_TRUE(QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts));
}

}  // namespace

int main(int argc, char** argv) {
  // As in the viewer: no shared OpenGL context until the hosted viewer's
  // library is opened.
  return RunWindowTests(argc, argv, /*needsDisplay=*/true);
}
