// What the window-level tests share: a scripted stand-in for the user's
// answers, a fixture holding a shown and active main window, and the main()
// that gives those tests a QApplication and a settings folder of their own.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/picture.h"
#include "shell/main_window.h"

// The sample pictures that ship with the program, with a trailing slash.
inline const std::string kSamples = DUORAMIC_SOURCE_DIR "/resources/samples/";

// A picture's whole block, header and pixels, for comparing what two ways
// of reading an item leave on display; empty for none.
inline std::vector<uint8_t> PictureBytes(const Picture& p) {
  if (!p) return {};
  const uint8_t* block = p.get();
  const uint8_t* end = PicturePixels(block) + PictureHeader(p)->biSizeImage;
  return std::vector<uint8_t>(block, end);
}

// Answers the window's questions from a script and records what was asked,
// so that nothing modal ever waits for a user.
struct ScriptedDialogs : UserDialogs {
  struct OpenCall {
    std::string title, preset, folder;
    std::vector<std::string> filters;
  };
  // Recorded calls.
  std::vector<std::string> messages;
  std::vector<std::string> questions;  // "caption: text"
  std::vector<OpenCall> opened;
  // Queued answers.
  bool answer = false;                  // to every yes/no question
  std::deque<std::string> chosenFiles;  // to the open dialogs; empty = cancel
  std::function<int(QDialog&)> run;     // runs modal dialogs; unset = reject

  void Message(QWidget*, std::string_view text, std::string_view,
               bool) override;
  bool AskYesNo(QWidget*, std::string_view text, std::string_view caption,
                YesNoPrompt::Icon) override;
  std::string OpenFile(QWidget*, std::string_view title,
                       std::span<const char* const> filters,
                       const std::string& preset, const std::string& folder,
                       int&, const OpenFileExtras&) override;
  int RunModal(QDialog& dialog) override;
};

// A fresh viewer, history and settings store, and a main window answered by
// `dialogs_`, shown and active.  Fixtures that hand the window stand-ins or
// place it override PrepareWindow(), which runs before it is shown.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  virtual void PrepareWindow() {}

  void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier);
  void Run(int id) { window_->DispatchCommand(id); }
  void ShowFile(const std::string& path);
  void ShowPair(const std::string& left, const std::string& right);
  std::string Title() const;

  ScriptedDialogs dialogs_;
  std::unique_ptr<MainWindow> window_;
};

// Runs every test under a QApplication with a private settings folder and
// Qt's text drawing.  Offscreen unless `needsDisplay`: then the tests need
// the X server in DISPLAY or the compositor in WAYLAND_DISPLAY and are
// skipped (77) without one.
int RunWindowTests(int argc, char** argv, bool needsDisplay = false);
