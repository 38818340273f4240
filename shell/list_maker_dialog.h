// The list maker: the "MAKESSCRIPT" panel below a file dialog in which the
// user picks a folder and files.  Each add appends entries to the chosen
// list and leaves the dialog open; its Cancel button closes it.
#pragma once

#include <string>

#include "shell/later_features.h"
#include "slideshow/list_maker.h"

struct UserDialogs;

// The panel's controls, by id (also their object names).
constexpr int IDC_MAKER_STEREO_FILES = 3097;
constexpr int IDC_MAKER_PAIR_FILES = 3101;
constexpr int IDC_MAKER_USE_RIGHT_FOLDER = 1424;
constexpr int IDC_MAKER_RIGHT_FOLDER = 1425;
constexpr int IDC_MAKER_RIGHT_BROWSE = 1426;
constexpr int IDC_MAKER_INTERVAL = 1246;
constexpr int IDC_MAKER_SWAP = 3141;
constexpr int IDC_MAKER_COMMENT = 1507;
constexpr int IDC_MAKER_CLEAR_COMMENT = 1509;
constexpr int IDC_MAKER_FULL_PATH = 3601;
constexpr int IDC_MAKER_LOWER_CASE = 3600;
constexpr int IDC_MAKER_LIST_PATH = 1249;
constexpr int IDC_MAKER_LIST_BROWSE = 1250;
constexpr int IDC_MAKER_EDIT_LIST = 3064;
constexpr int IDC_MAKER_DELETE_LIST = 1508;
constexpr int IDC_MAKER_ADD_SELECTED = 1367;
constexpr int IDC_MAKER_ADD_ALL = 1368;

class ListMakerDialog : public ListMaker {
 public:
  // Runs its dialogs and shows messages through `dialogs`.
  explicit ListMakerDialog(UserDialogs& dialogs) : dialogs_(dialogs) {}
  void MakeList(QWidget* owner) override;

  // What the panel keeps from one opening to the next in this run.
  struct Kept {
    std::string listPath;
    std::string rightFolder;
    bool swap = false;
    bool fullPath = false;
    bool lowerCase = false;
    bool useRightFolder = false;
    int inputForm = kStereoFilesForm;
  };
  const Kept& KeptValues() const { return kept_; }

 private:
  UserDialogs& dialogs_;
  Kept kept_;
};
