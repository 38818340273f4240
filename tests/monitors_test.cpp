// Which monitors full screen covers, and how the monitor dialog draws the
// desktop and turns clicks into a choice.
#include "shell/monitors.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "core/viewer_state.h"

namespace {

class MonitorsTest : public ::testing::Test {
 protected:
  void SetUp() override { Viewer = ViewerState(); }
  void TearDown() override { Viewer = ViewerState(); }
};

const DesktopRect kLeft{0, 0, 1920, 1080};
const DesktopRect kRight{1920, 0, 3840, 1080};

TEST_F(MonitorsTest, TwoChosenMonitorsSideBySideAreCoveredTogether) {
  std::vector<DesktopRect> monitors{kLeft, kRight};
  SetMonitorTable(monitors);
  Viewer.MonitorSelected[0] = Viewer.MonitorSelected[1] = true;
  ComputeFullScreenRect();
  EXPECT_EQ(Viewer.FullScreenRect, (DesktopRect{0, 0, 3840, 1080}));
}

TEST_F(MonitorsTest, OneWindowPerOutputGoesToTheChosenMonitorItCanCover) {
  const DesktopRect third{3840, 0, 5120, 720};
  std::vector<DesktopRect> monitors{kLeft, kRight, third};
  std::array<bool, 9> chosen{};
  chosen[1] = true;
  // One chosen monitor: that one, wherever the window is.
  EXPECT_EQ(OutputForFullScreen(monitors, chosen, kRight, 0), 1);
  // Several: the one the window is on, when it is chosen...
  chosen[2] = true;
  DesktopRect both{1920, 0, 5120, 1080};
  EXPECT_EQ(OutputForFullScreen(monitors, chosen, both, 2), 2);
  // ...else the first chosen.
  EXPECT_EQ(OutputForFullScreen(monitors, chosen, both, 0), 1);
  EXPECT_EQ(OutputForFullScreen(monitors, chosen, both, -1), 1);
  // Nothing chosen: no output; a choice beyond the known monitors is none.
  EXPECT_EQ(OutputForFullScreen(monitors, {}, kLeft, 0), -1);
  std::array<bool, 9> beyond{};
  beyond[5] = true;
  EXPECT_EQ(OutputForFullScreen(monitors, beyond, kLeft, 5), -1);
}

TEST_F(MonitorsTest, WithNothingChosenThePrimaryMonitorIsChosen) {
  std::vector<DesktopRect> monitors{kRight, {-1280, 0, 0, 1024}, kLeft};
  SetMonitorTable(monitors);
  ComputeFullScreenRect();
  EXPECT_EQ(Viewer.FullScreenRect, kLeft);
  EXPECT_EQ(Viewer.MonitorSelected,
            (std::array<bool, 9>{false, false, true}));

  // A stored choice of a monitor no longer there counts as no choice; the
  // flag is kept for when it comes back.
  Viewer.MonitorSelected = {};
  Viewer.MonitorSelected[5] = true;
  ComputeFullScreenRect();
  EXPECT_EQ(Viewer.FullScreenRect, kLeft);
  EXPECT_TRUE(Viewer.MonitorSelected[5]);

  // No monitor at the origin: the first one stands for the primary.
  std::vector<DesktopRect> shifted{{0, 100, 800, 700}, {800, 0, 1600, 600}};
  SetMonitorTable(shifted);
  Viewer.MonitorSelected = {};
  ComputeFullScreenRect();
  EXPECT_EQ(Viewer.FullScreenRect, shifted[0]);
}

TEST_F(MonitorsTest, OnlyTheFirstNineMonitorsAreKnown) {
  std::vector<DesktopRect> monitors;
  for (int i = 0; i < 11; ++i)
    monitors.push_back({i * 100, 0, i * 100 + 100, 100});
  SetMonitorTable(monitors);
  ASSERT_EQ(KnownMonitors().size(), 9u);
  EXPECT_EQ(KnownMonitors().back(), monitors[8]);
  Viewer.MonitorSelected.fill(true);
  ComputeFullScreenRect();
  EXPECT_EQ(Viewer.FullScreenRect, (DesktopRect{0, 0, 900, 100}));
}

TEST_F(MonitorsTest, TheWindowBelongsToTheMonitorHoldingMostOfIt) {
  std::vector<DesktopRect> monitors{kLeft, kRight};
  EXPECT_EQ(MonitorHolding(monitors, {1800, 100, 2400, 500}), 1);
  EXPECT_EQ(MonitorHolding(monitors, {1500, 100, 2000, 500}), 0);
  EXPECT_EQ(MonitorHolding(monitors, {5000, 0, 5100, 100}), -1);
}

TEST_F(MonitorsTest, AWideDesktopFillsTheWidthAndIsCentredVertically) {
  std::vector<DesktopRect> monitors{kLeft, kRight};
  // Usable 600 x 290: 3840 / 600 = 6.4 beats 1080 / 290.
  MonitorLayout layout = LayOutMonitors(monitors, 620, 300);
  EXPECT_DOUBLE_EQ(layout.scale, 6.4);
  EXPECT_EQ(layout.leftMargin, 10);
  EXPECT_EQ(layout.topMargin, 70);  // (290 - 168.75) / 2 + 10
  EXPECT_EQ(DrawnRect(layout, kLeft), (DesktopRect{10, 70, 310, 238}));
  EXPECT_EQ(DrawnRect(layout, kRight), (DesktopRect{310, 70, 610, 238}));
}

TEST_F(MonitorsTest, AMonitorLeftOfThePrimaryIsDrawnAtTheLeftMargin) {
  std::vector<DesktopRect> monitors{kLeft, {-1280, -200, 0, 824}};
  // Extent -1280..1920 by -200..1080; tall area: the height decides.
  MonitorLayout layout = LayOutMonitors(monitors, 1000, 266);
  EXPECT_EQ(layout.minLeft, -1280);
  EXPECT_EQ(layout.minTop, -200);
  EXPECT_DOUBLE_EQ(layout.scale, 5.0);
  EXPECT_EQ(layout.topMargin, 10);
  EXPECT_EQ(layout.leftMargin, (1000 - 640 - 20) / 2 + 10);
  DesktopRect drawn = DrawnRect(layout, monitors[1]);
  EXPECT_EQ(drawn.left, layout.leftMargin);
  EXPECT_EQ(drawn.top, 10);
  EXPECT_EQ(DrawnRect(layout, kLeft).left, layout.leftMargin + 256);

  // The extent always includes the origin, even when no monitor does.
  std::vector<DesktopRect> away{{1000, 1000, 2000, 2000}};
  EXPECT_EQ(LayOutMonitors(away, 620, 300).minLeft, 0);
}

TEST_F(MonitorsTest, DegenerateAreasAndDesktopsGiveAUsableLayout) {
  MonitorLayout none = LayOutMonitors({}, 620, 300);
  EXPECT_GT(none.scale, 0);
  std::vector<DesktopRect> monitors{kLeft};
  MonitorLayout tiny = LayOutMonitors(monitors, 5, 5);
  EXPECT_GT(tiny.scale, 0);
  DesktopRect drawn = DrawnRect(tiny, kLeft);
  EXPECT_LE(drawn.right, 30);
}

TEST_F(MonitorsTest, ClicksChooseOneAndShiftClicksToggle) {
  std::vector<DesktopRect> monitors{kLeft, kRight};
  MonitorLayout layout = LayOutMonitors(monitors, 620, 300);
  std::array<bool, 9> chosen{};
  chosen[8] = true;

  EXPECT_TRUE(ClickMonitors(layout, monitors, chosen, 100, 100, false));
  EXPECT_EQ(chosen, (std::array<bool, 9>{true}));
  EXPECT_TRUE(ClickMonitors(layout, monitors, chosen, 400, 100, true));
  EXPECT_EQ(chosen, (std::array<bool, 9>{true, true}));
  EXPECT_TRUE(ClickMonitors(layout, monitors, chosen, 100, 100, true));
  EXPECT_EQ(chosen, (std::array<bool, 9>{false, true}));

  // Edges, the border between the two and the margins belong to no monitor.
  for (auto [x, y] : {std::pair{10, 100}, {310, 100}, {609, 70}, {610, 100},
                      {400, 238}, {5, 5}})
    EXPECT_FALSE(ClickMonitors(layout, monitors, chosen, x, y, false))
        << x << "," << y;
  EXPECT_EQ(chosen, (std::array<bool, 9>{false, true}));
}

}  // namespace
