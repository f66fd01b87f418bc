// The main window's controls and their layout. Behaviour lives in TMainForm
// and the panels; this only builds and places.
#pragma once

class QAction;
class QToolButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QPushButton;
class QSlider;
class QSpinBox;
class QStackedWidget;
class QTimeEdit;
class QWidget;

namespace quorvel {

class TImageButton;
class TLoudnessChoice;
class TOutputNamesField;
class TProfilePanel;
class TSourceList;

struct TMainFormUi {
  // The smallest window's client area (below the menu bar) and the preview
  // panel's width in it.
  static constexpr int kMinimumWidth = 737;
  static constexpr int kMinimumHeight = 452;
  static constexpr int kPlayerWidth = 271;

  // Builds every control on AWindow. AList and AProfiles supply the grid and
  // the profile choices, which their owners created.
  void Setup(QMainWindow* AWindow, TSourceList& AList, TProfilePanel& AProfiles);

  // Menus
  QMenu* mnuFile = nullptr;
  QMenu* mnuEdit = nullptr;
  QMenu* mnuTools = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* actAddFiles = nullptr;
  QAction* actAddFolder = nullptr;  // "Add folder..."
  QAction* actStartConversion = nullptr;
  QAction* actFileInformation = nullptr;
  QAction* actExit = nullptr;
  QAction* actRemove = nullptr;
  QAction* actClearAll = nullptr;
  QAction* actRename = nullptr;
  QAction* actMoveUp = nullptr;
  QAction* actMoveDown = nullptr;
  QAction* actTrimAudio = nullptr;
  QAction* actSelectAll = nullptr;  // every row of the list
  QAction* actPlayPause = nullptr;  // the preview's Play or Pause, whichever applies
  QAction* actEventsLog = nullptr;
  QAction* actKeepList = nullptr;  // checked: the rows come back at the next start
  QAction* actOnlineGuide = nullptr;
  QAction* actSupport = nullptr;
  QAction* actMoreFreeware = nullptr;
  QAction* actOnFacebook = nullptr;
  QAction* actOnTwitter = nullptr;
  QAction* actAbout = nullptr;
  // The list's pop-up menu
  QAction* popAddFiles = nullptr;
  QAction* popAddFolder = nullptr;
  QAction* popRemove = nullptr;
  QAction* popClearAll = nullptr;
  QAction* popRename = nullptr;
  QAction* popMoveUp = nullptr;
  QAction* popMoveDown = nullptr;
  QAction* popTrimAudio = nullptr;
  QAction* popFileInformation = nullptr;
  QAction* popConvertAgain = nullptr;  // on a row whose conversion failed

  // Left buttons, share buttons, Convert
  TImageButton* btnAdd = nullptr;
  // The Add button's menu (the arrow beside it): files or a folder.
  QToolButton* btnAddMenu = nullptr;
  QAction* addMenuFiles = nullptr;
  QAction* addMenuFolder = nullptr;
  TImageButton* btnClear = nullptr;
  TImageButton* btnTrim = nullptr;
  TImageButton* btnLike = nullptr;
  TImageButton* btnTweet = nullptr;
  TImageButton* btnConvert = nullptr;

  // List area: the getting-started panel or the grid
  QStackedWidget* stkList = nullptr;
  QWidget* pnlGettingStarted = nullptr;
  QLabel* lblGettingStarted = nullptr;
  QLabel* imgDragDrop = nullptr;
  TImageButton* btnOpenForGs = nullptr;
  QTimeEdit* edTimeStart = nullptr;
  QTimeEdit* edTimeEnd = nullptr;

  // Preview player panel
  QWidget* pnlPlayer = nullptr;
  TImageButton* btnPlay = nullptr;
  TImageButton* btnPause = nullptr;
  TImageButton* btnStop = nullptr;
  QSlider* sldPosition = nullptr;
  QLabel* lblPlayTime = nullptr;
  QLabel* pnlPreview = nullptr;  // the dark box above the preview's controls

  // Output
  QCheckBox* chMerge = nullptr;
  QCheckBox* chVerify = nullptr;
  QSpinBox* edVolume = nullptr;
  TLoudnessChoice* loudness = nullptr;  // beside the volume
  QLineEdit* edDestinationFolder = nullptr;
  QPushButton* btnBrowse = nullptr;
  TOutputNamesField* fldNames = nullptr;  // "File names" under the output folder
  QPushButton* btnFindTarget = nullptr;
};

}  // namespace quorvel
