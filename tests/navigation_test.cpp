// Stepping through folders, pairs and slideshow lists in the offscreen main
// window: positions and titles, typed numbers, transitions under a driven
// clock, the slideshow hold, Eye-Fi mode and the list's music.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <string>
#include <vector>

#include "image/comment.h"
#include "image/file_names.h"
#include "shell/command_table.h"
#include "shell/file_history.h"
#include "shell/main_window.h"
#include "shell/navigation.h"
#include "core/viewer_state.h"
#include "stereo/text_overlay.h"
#include "tests/heif_files.h"
#include "tests/synthetic_jpeg.h"
#include "tests/window_test_support.h"

namespace {

struct FakeMusic : BackgroundMusic {
  std::vector<std::string> calls;
  bool Open(const std::string& path) override {
    calls.push_back("open " + FileNameOf(path));
    return true;
  }
  void Pause() override { calls.push_back("pause"); }
  void Resume() override { calls.push_back("resume"); }
  void Close() override { calls.push_back("close"); }
};

struct NoPanorama : PanoramaViewer {
  void Show(const std::string&, bool) override {}
  void Close() override {}
};

class NavigationTest : public WindowTest {
 protected:
  void PrepareWindow() override {
    Viewer.nEFType = 0;  // transitions only where a test asks for them
    window_->SetMusic(&music_);
    window_->SetPanorama(&panorama_);
    window_->SetClock([this] { return now_; });
    ASSERT_TRUE(dir_.isValid());
  }

  // A folder `sub` of the scratch folder, with a trailing slash.
  std::string Folder(const std::string& sub) {
    std::string path = dir_.path().toStdString() + "/" + sub;
    QDir().mkpath(QString::fromStdString(path));
    return path + "/";
  }
  // The folder `sub` holding small distinct JPEGs named `names`.
  std::string Pictures(const std::string& sub,
                       const std::vector<std::string>& names) {
    std::string folder = Folder(sub);
    int seed = 0;
    for (const std::string& name : names) {
      auto jpeg = synthetic::Compress(synthetic::TestCard(64, 32, ++seed));
      EXPECT_TRUE(WriteFile(
          folder + name,
          {reinterpret_cast<const char*>(jpeg.data()), jpeg.size()}))
          << folder + name;
    }
    return folder;
  }
  // Writes `bytes` to `path`; false when the file cannot be made.
  static bool WriteFile(const std::string& path, std::string_view bytes) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) return false;
    return file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
           static_cast<qint64>(bytes.size());
  }
  std::string Pair() {
    return FileNameOf(Viewer.LeftPath) + "+" + FileNameOf(Viewer.RightPath);
  }

  QTemporaryDir dir_;
  FakeMusic music_;
  NoPanorama panorama_;
  uint32_t now_ = 5000;
};

TEST_F(NavigationTest, AFolderWrapsAtBothEndsAndTheSlideshowNotesItsInterval) {
  std::string dir = Pictures("f", {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
  ShowFile(dir + "c.jpg");
  EXPECT_EQ(Viewer.ItemIndex, 2);
  EXPECT_EQ(Title(), "(" + dir + "c.jpg) 3/5  ");
  for (int i = 0; i < 3; ++i) Run(CMD_PREVIOUS);
  EXPECT_EQ(Viewer.ItemIndex, 4);  // before the first comes the last
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "e.jpg");
  EXPECT_EQ(Title(), "(" + dir + "e.jpg) 5/5  ");
  Run(CMD_NEXT);
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "a.jpg");

  Viewer.nInterval = 25;
  Run(CMD_SLIDESHOW);  // advances at once
  QCoreApplication::processEvents();
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "b.jpg");
  EXPECT_EQ(Title(), "(" + dir + "b.jpg) 2/5  2.5 秒間隔でスライドショー中");
  EXPECT_EQ(window_->SlideshowTimer().interval(), 2500);
  // Stopped, by A or by stepping by hand, the title says so at once.
  Run(CMD_SLIDESHOW);
  EXPECT_FALSE(Viewer.SlideShowOn);
  EXPECT_EQ(Title(), "(" + dir + "b.jpg) 2/5  ");
  Run(CMD_SLIDESHOW);
  QCoreApplication::processEvents();
  EXPECT_EQ(Title(), "(" + dir + "c.jpg) 3/5  2.5 秒間隔でスライドショー中");
  window_->StopSlideshow();
  EXPECT_EQ(Title(), "(" + dir + "c.jpg) 3/5  ");
}

TEST_F(NavigationTest, PairsStepAsNeighboursOrSideBySideFolders) {
  std::string dir = Pictures("p", {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"});
  ShowPair(dir + "a.jpg", dir + "b.jpg");
  EXPECT_EQ(Viewer.ItemIndex, 1);
  Run(CMD_NEXT);
  EXPECT_EQ(Pair(), "c.jpg+d.jpg");
  EXPECT_EQ(Viewer.ItemIndex, 3);
  EXPECT_NE(Title().find(" 4/6  "), std::string::npos);
  Run(CMD_PREVIOUS);
  EXPECT_EQ(Pair(), "a.jpg+b.jpg");
  Run(CMD_PREVIOUS);  // from the first pair to the last
  EXPECT_EQ(Pair(), "e.jpg+f.jpg");
  EXPECT_EQ(Viewer.ItemIndex, 5);
  EXPECT_EQ(Viewer.ShownRightPath, dir + "f.jpg");

  std::string left = Pictures("left", {"1.jpg", "2.jpg", "3.jpg"});
  std::string right = Pictures("right", {"x.jpg", "y.jpg", "z.jpg"});
  ShowPair(left + "1.jpg", right + "x.jpg");
  Run(CMD_NEXT);
  EXPECT_EQ(Viewer.LeftPath, left + "2.jpg");
  EXPECT_EQ(Viewer.RightPath, right + "y.jpg");
  Run(CMD_PREVIOUS);
  Run(CMD_PREVIOUS);
  EXPECT_EQ(Pair(), "3.jpg+z.jpg");
}

// Stepping on from a left/right pair never makes a pair of two files that
// each hold both views: those are items of their own, and the counter
// follows every name.
TEST_F(NavigationTest, PairsStepPastStereoFilesAsItemsOfTheirOwn) {
  std::string dir = Pictures(
      "s", {"scene.jps", "scene.pns", "scene_L.jpg", "scene_R.jpg"});
  ShowPair(dir + "scene_L.jpg", dir + "scene_R.jpg");
  EXPECT_EQ(Viewer.ItemIndex, 3);
  std::vector<std::string> shown;
  auto note = [&] {
    shown.push_back(FileNameOf(Viewer.ShownLeftPath) + "+" +
                    FileNameOf(Viewer.ShownRightPath) + " " +
                    std::to_string(Viewer.ItemIndex + 1));
  };
  for (int i = 0; i < 3; ++i) {
    Run(CMD_NEXT);
    note();
  }
  for (int i = 0; i < 3; ++i) {
    Run(CMD_PREVIOUS);
    note();
  }
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "scene.jps+ 1", "scene.pns+ 2",
                       "scene_L.jpg+scene_R.jpg 4", "scene.pns+ 2",
                       "scene.jps+ 1", "scene_L.jpg+scene_R.jpg 4"}));
  Run(CMD_NEXT);
  EXPECT_EQ(Title(), "(" + dir + "scene.jps) 1/4  ");
  // Read again as the file it is, not as a pair.
  Run(CMD_RELOAD_ITEM);
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "scene.jps");
  EXPECT_EQ(Viewer.ShownRightPath, "");
  EXPECT_EQ(Title(), "(" + dir + "scene.jps) 1/4  ");
}

TEST_F(NavigationTest, ReloadReadsThePairOnDisplayAgain) {
  std::string dir = Pictures("r", {"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
  ShowPair(dir + "a.jpg", dir + "c.jpg");  // not neighbours
  int width = PictureWidth(Viewer.CurrentLeft);
  Viewer.FloatOffset = 10;
  Run(CMD_RELOAD_ITEM);
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "a.jpg");
  EXPECT_EQ(Viewer.ShownRightPath, dir + "c.jpg");
  EXPECT_GT(PictureWidth(Viewer.CurrentLeft), width);  // shifted: read again
}

TEST_F(NavigationTest, TypedNumbersPickTheItemOrTheFirst) {
  std::vector<std::string> names;
  for (char c = 'a'; c < 'a' + 10; ++c)
    names.push_back(std::string(1, c) + ".jpg");
  std::string dir = Pictures("n", names);
  auto type = [&](std::vector<int> digits) {
    ShowFile(dir + "e.jpg");
    for (int d : digits) Run(CMD_DIGIT_FIRST + d);
    EXPECT_TRUE(GoToTypedNumber(*window_));
    EXPECT_EQ(window_->DigitLast, -1);
    return Viewer.ItemIndex;
  };
  EXPECT_EQ(type({1, 2}), 0);  // 12 of 10: the first
  EXPECT_EQ(type({7}), 6);
  EXPECT_EQ(type({0}), 0);
  EXPECT_EQ(type({3, 1, 0}), 9);  // the last two digits count
  EXPECT_FALSE(GoToTypedNumber(*window_));

  // One past the last is out of range as well, also where stepping past
  // the end closes a show that does not repeat.
  Viewer.ListRepeat = false;
  EXPECT_EQ(type({1, 1}), 0);
  QCoreApplication::processEvents();
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(NavigationTest, TransitionsRunForwardOnFittedStillsAndHoldTheShow) {
  std::string dir = Pictures("t", {"a.jpg", "b.jpg", "c.jpg"});
  ShowFile(dir + "a.jpg");
  Viewer.nEFType = 4;  // the cross-fade: the ball effect restarts the clock
  const uint8_t* old = Viewer.CurrentLeft.get();
  Run(CMD_NEXT);
  ASSERT_TRUE(Viewer.TransitionPending);
  const uint8_t* next = Viewer.LeftPicture.get();
  EXPECT_EQ(Viewer.CurrentLeft.get(), old);

  SlideshowTick(*window_);  // held: the transition is not over
  QCoreApplication::processEvents();
  EXPECT_EQ(Viewer.ItemIndex, 1);
  now_ += 500;
  TransitionTick(*window_);
  EXPECT_EQ(Viewer.TransitionProgress, 50);
  EXPECT_EQ(Viewer.CurrentLeft.get(), old);
  now_ += 500;
  TransitionTick(*window_);
  EXPECT_FALSE(Viewer.TransitionPending);
  EXPECT_FALSE(window_->TransitionTimer().isActive());
  EXPECT_EQ(Viewer.CurrentLeft.get(), next);
  SlideshowTick(*window_);
  QCoreApplication::processEvents();
  EXPECT_EQ(Viewer.ItemIndex, 2);  // the tick after it advances
  ASSERT_TRUE(Viewer.TransitionPending);

  // A step while one runs drops it; backwards, at actual size and with the
  // effect off the new pair shows at once.
  Run(CMD_PREVIOUS);
  EXPECT_FALSE(Viewer.TransitionPending);
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "b.jpg");
  EXPECT_FALSE(Viewer.LeftPicture);
  Viewer.ActualSizeToggle = 1;
  Run(CMD_NEXT);
  EXPECT_FALSE(Viewer.TransitionPending);
  Viewer.ActualSizeToggle = 0;
  Viewer.nEFType = 0;
  Run(CMD_NEXT);
  EXPECT_FALSE(Viewer.TransitionPending);
  EXPECT_TRUE(Viewer.CurrentLeft);

  // Closing finishes a transition under way and stops every timer.
  Viewer.nEFType = 4;
  Run(CMD_NEXT);
  ASSERT_TRUE(window_->TransitionTimer().isActive());
  Run(CMD_EYEFI);
  window_->close();
  EXPECT_FALSE(Viewer.TransitionPending);
  EXPECT_FALSE(window_->TransitionTimer().isActive());
  EXPECT_FALSE(window_->EyeFiTimer().isActive());
}

TEST_F(NavigationTest, AListPlaysItsEntriesAndMusicThenClosesWithoutRepeat) {
  std::string dir = Pictures("l", {"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
  std::string list = dir + "show.txt";
  ASSERT_TRUE(WriteFile(list,
                        "SlideShowList;;\n"
                        "BGMusic;music.mp3;;\n"
                        "MovieBGMStop;1;;\n"
                        "Repeat;0;;\n"
                        "SlideShow;1;;\n"
                        "StereoEffect;0;;\n"
                        "11;20;0;0;0;a.jpg;first;;\n"
                        "21;25;0;0;0;b.jpg;c.jpg;;\n"
                        "11;0;0;0;0;clip.mp4;;\n"
                        "11;0;0;0;0;d.jpg;;\n"));
  Viewer.OpenPath = list;
  Run(CMD_START_LIST);
  EXPECT_TRUE(Viewer.ListMode);
  EXPECT_EQ(Viewer.ItemCount, 4);
  EXPECT_TRUE(Viewer.BgmPlaying);
  EXPECT_EQ(Viewer.nInterval, 20);
  EXPECT_STREQ(CurrentComment, "first");
  EXPECT_EQ(Title(), "(" + dir + "a.jpg) 1/4  2.0 秒間隔でスライドショー中");

  Run(CMD_NEXT);
  EXPECT_EQ(Pair(), "b.jpg+c.jpg");
  EXPECT_EQ(window_->SlideshowTimer().interval(), 2500);
  Run(CMD_NEXT);  // a movie: the music pauses; the player's report stays
  EXPECT_NE(Title().find("clip.mp4"), std::string::npos);
  EXPECT_NE(Title().find("not built yet"), std::string::npos);
  Run(CMD_NEXT);
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "d.jpg");
  EXPECT_EQ(Viewer.ItemIndex, 3);
  EXPECT_TRUE(window_->isVisible());
  Run(CMD_NEXT);  // past the last entry without repeat: the program ends
  QCoreApplication::processEvents();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(Viewer.BgmPlaying);
  EXPECT_EQ(music_.calls, (std::vector<std::string>{"open music.mp3", "resume",
                                                    "pause", "resume",
                                                    "close"}));
}

TEST_F(NavigationTest, APairOpenedDuringAListLeavesItsMusicAlone) {
  std::string dir = Pictures("m", {"a.jpg", "b.jpg"});
  for (const char* movie : {"x.mp4", "y.mp4"})
    ASSERT_TRUE(WriteFile(dir + movie, "not decoded here"));
  std::string list = dir + "show.txt";
  ASSERT_TRUE(WriteFile(list,
                        "SlideShowList;;\n"
                        "BGMusic;music.mp3;;\n"
                        "MovieBGMStop;1;;\n"
                        "11;0;0;0;0;a.jpg;;\n"));
  Viewer.OpenPath = list;
  Run(CMD_START_LIST);
  ASSERT_TRUE(Viewer.BgmPlaying);

  ShowPair(dir + "x.mp4", dir + "y.mp4");  // a movie pair outside the list
  Run(CMD_NEXT);                           // and on to a.jpg + b.jpg
  EXPECT_EQ(Pair(), "a.jpg+b.jpg");
  EXPECT_TRUE(Viewer.BgmPlaying);
  EXPECT_EQ(music_.calls, std::vector<std::string>{"open music.mp3"});
}

TEST_F(NavigationTest, LeavingAPanoramaOpenedOverAListPlaysItsMusicAgain) {
  std::string dir = Pictures("p", {"a.jpg", "b.jpg", "pano.jpg"});
  std::string list = dir + "show.txt";
  ASSERT_TRUE(WriteFile(list,
                        "SlideShowList;;\n"
                        "BGMusic;music.mp3;;\n"
                        "11;0;0;0;0;a.jpg;;\n"
                        "11;0;0;0;0;b.jpg;;\n"));
  Viewer.OpenPath = list;
  Run(CMD_START_LIST);
  Run(CMD_NEXT);
  ASSERT_EQ(Viewer.ShownLeftPath, dir + "b.jpg");

  // As the 360 open dialog hands the picture on.
  Viewer.View360 = true;
  Viewer.OpenPath = dir + "pano.jpg";
  Run(CMD_SHOW_FILE);
  EXPECT_FALSE(Viewer.BgmPlaying);

  Run(CMD_LEAVE_360);
  EXPECT_TRUE(Viewer.ListMode);
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "b.jpg");
  EXPECT_TRUE(Viewer.BgmPlaying);
  EXPECT_EQ(music_.calls, (std::vector<std::string>{
                              "open music.mp3", "close", "open music.mp3"}));
}

TEST_F(NavigationTest, AFailedOpenFromTheHistoryLeavesLaterOpensRecorded) {
  std::string dir = Pictures("h", {"a.jpg"});
  ASSERT_TRUE(WriteFile(dir + "broken.mpo", "no pictures in here"));
  RecentFiles[0].left = dir + "broken.mpo";
  Run(CMD_HISTORY_FIRST);
  ShowFile(dir + "a.jpg");  // as the open dialog hands it on
  EXPECT_EQ(RecentFiles[0].left, dir + "a.jpg");
  EXPECT_EQ(RecentFiles[1].left, dir + "broken.mpo");
}

// A file no reader can read stands as an item of its own: black, its name
// and the reason on the canvas and in the title; the steps go on from it.
TEST_F(NavigationTest, AnUnreadableFileSaysWhyAndTheStepsGoOn) {
  std::string dir = Pictures("u", {"a.jpg", "c.jpg"});
  ASSERT_TRUE(WriteFile(dir + "b.jpg", "plain text, not a picture"));
  ShowFile(dir + "b.jpg");
  EXPECT_EQ(Viewer.ItemIndex, 1);
  std::string title = Title();
  EXPECT_EQ(title.rfind("(" + dir + "b.jpg) 2/3  表示できません: ", 0), 0u)
      << title;
  EXPECT_NE(title.find("JPEG: Not a JPEG file"), std::string::npos) << title;
  EXPECT_EQ(title.find("PNG:"), std::string::npos) << title;
  ASSERT_EQ(ItemMessage().size(), 3u);
  EXPECT_EQ(ItemMessage()[0], "b.jpg");
  Run(CMD_NEXT);
  EXPECT_EQ(Title(), "(" + dir + "c.jpg) 3/3  ");
  EXPECT_TRUE(ItemMessage().empty());
  Run(CMD_PREVIOUS);
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "b.jpg");
  EXPECT_NE(Title().find("表示できません"), std::string::npos);
  EXPECT_EQ(ItemMessage().size(), 3u);

  // One eye of a pair: the other is shown, the name of this one said.
  ShowPair(dir + "a.jpg", dir + "b.jpg");
  EXPECT_NE(Title().find("  表示できません: b.jpg: 画像ファイルではありません"),
            std::string::npos) << Title();
  ASSERT_EQ(ItemMessage().size(), 3u);
  EXPECT_EQ(ItemMessage()[0], "b.jpg");
  Run(CMD_NEXT);  // c.jpg and a.jpg, both read
  EXPECT_EQ(Title().find("表示できません"), std::string::npos) << Title();
  EXPECT_TRUE(ItemMessage().empty());

  // An MPO without its second picture: flat when it is a JPEG at all.
  std::string mpo = Folder("m");
  auto jpeg = synthetic::Compress(synthetic::TestCard(64, 32, 7));
  ASSERT_TRUE(WriteFile(mpo + "flat.mpo",
                        {reinterpret_cast<const char*>(jpeg.data()),
                         jpeg.size()}));
  ASSERT_TRUE(WriteFile(mpo + "text.mpo", "no pictures in here"));
  ShowFile(mpo + "flat.mpo");
  EXPECT_EQ(Title(), "(" + mpo + "flat.mpo) 1/2  2D表示: "
                     "ステレオMPOではありません（no second MPF mark）");
  EXPECT_TRUE(ItemMessage().empty());
  ASSERT_TRUE(Viewer.CurrentLeft && Viewer.CurrentRight);
  EXPECT_EQ(PictureWidth(Viewer.CurrentLeft), PictureWidth(Viewer.CurrentRight));
  Run(CMD_NEXT);
  EXPECT_EQ(Viewer.ShownLeftPath, mpo + "text.mpo");
  EXPECT_NE(Title().find("(" + mpo + "text.mpo) 2/2  表示できません"),
            std::string::npos) << Title();
  EXPECT_EQ(ItemMessage().size(), 3u);
}

// A folder opens at its first file; one with nothing to show says so.
TEST_F(NavigationTest, AFolderOpensAtItsFirstFileOrSaysItHasNone) {
  std::string dir = Pictures("d", {"b.jpg", "a.jpg"});
  ShowFile(dir.substr(0, dir.size() - 1));
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "a.jpg");
  EXPECT_EQ(Title(), "(" + dir + "a.jpg) 1/2  ");

  std::string empty = Folder("empty");
  ASSERT_TRUE(WriteFile(empty + "notes.doc", "not a picture"));
  ShowFile(empty);
  EXPECT_TRUE(dialogs_.questions.empty());
  EXPECT_EQ(Title(), "(" + empty + ")  表示できるファイルがありません");
  ASSERT_EQ(ItemMessage().size(), 2u);
  EXPECT_EQ(ItemMessage()[0], "empty/");
  Run(CMD_NEXT);  // nothing to step to
  EXPECT_EQ(Title(), "(" + empty + ")  表示できるファイルがありません");
}

TEST_F(NavigationTest, EyeFiModeShowsANewlyArrivedMpo) {
  std::string dir = Folder("eyefi");
  ASSERT_TRUE(QFile::copy(QString::fromStdString(kSamples + "scene.mpo"),
                          QString::fromStdString(dir + "p1.mpo")));
  ShowFile(dir + "p1.mpo");
  Run(CMD_EYEFI);
  EXPECT_EQ(Title(), "Eye Fi Mode");
  EXPECT_EQ(window_->EyeFiTimer().interval(), 300);
  EyeFiTick(*window_);  // nothing new
  QCoreApplication::processEvents();
  EXPECT_EQ(Title(), "(" + dir + "p1.mpo) 1/1  (Eye-Fi Mode)");

  ASSERT_TRUE(QFile::copy(QString::fromStdString(kSamples + "scene.mpo"),
                          QString::fromStdString(dir + "p2.mpo")));
  EyeFiTick(*window_);
  QCoreApplication::processEvents();
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "p2.mpo");
  EyeFiTick(*window_);
  EXPECT_EQ(Title(), "(" + dir + "p2.mpo) 2/2  (Eye-Fi Mode)");
  Run(CMD_EYEFI);
  EXPECT_FALSE(window_->EyeFiTimer().isActive());
}

}  // namespace

// A spatial HEIC goes where an MPO goes: both views on screen, browsing
// among its kind; one whose right view is missing shows its left view in
// both eyes with the reason in the title.
TEST_F(NavigationTest, SpatialPhotosShowBothViewsOrTheLeftOneFlatWithTheReason) {
  Picture a = heif_files::RampPicture(64, 48, 1);
  Picture b = heif_files::RampPicture(64, 48, 2);
  std::vector<uint32_t> ids;
  heif_files::Bytes file = heif_files::EncodeHeif({&a, &b}, 0, ids);
  if (ids.size() != 2) GTEST_SKIP() << "no HEVC encoder to make test files";
  auto grouped = [&](uint32_t right) {
    heif_files::Bytes out = file;
    heif_files::InsertIntoBox(
        out, {"meta"},
        heif_files::MakeBox("grpl", heif_files::MakeGroup("ster", 1,
                                                          {ids[0], right})));
    return std::string(out.begin(), out.end());
  };
  std::string dir = Folder("spatial");
  ASSERT_TRUE(WriteFile(dir + "a.heic", grouped(ids[1])));
  ASSERT_TRUE(WriteFile(dir + "b.HEIC", grouped(99)));
  auto sameViews = [] {
    const uint8_t* l = Viewer.CurrentLeft.get();
    const uint8_t* r = Viewer.CurrentRight.get();
    size_t bytes = PictureHeader(l)->biSizeImage;
    return PictureHeader(r)->biSizeImage == bytes &&
           std::memcmp(PicturePixels(l), PicturePixels(r), bytes) == 0;
  };
  ShowFile(dir + "a.heic");
  EXPECT_EQ(Title(), "(" + dir + "a.heic) 1/2  ");
  ASSERT_TRUE(Viewer.CurrentLeft && Viewer.CurrentRight);
  EXPECT_FALSE(sameViews());
  Run(CMD_NEXT);
  EXPECT_EQ(Viewer.ShownLeftPath, dir + "b.HEIC");
  EXPECT_NE(Title().find("(" + dir + "b.HEIC) 2/2  2D表示: "), std::string::npos)
      << Title();
  EXPECT_NE(Title().find("item id 99"), std::string::npos) << Title();
  ASSERT_TRUE(Viewer.CurrentLeft && Viewer.CurrentRight);
  EXPECT_TRUE(sameViews());
}
