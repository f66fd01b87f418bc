#include "app/shell/MainFormUi.h"
#include "app/conversion/LoudnessChoice.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QToolButton>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "app/conversion/OutputNamesField.h"
#include "app/conversion/ProfilePanel.h"
#include "app/sources/SourceList.h"
#include "app/shell/Widgets.h"

namespace quorvel {

namespace {

TImageButton* ImageButton(const char* AName, const QString& AHint, QWidget* AParent) {
  auto* b = new TImageButton(AParent);
  b->setObjectName(AName);
  b->setToolTip(AHint);
  return b;
}

QLabel* Caption(const QString& AText, QWidget* AParent) {
  auto* l = new QLabel(AText, AParent);
  l->setProperty("caption", true);
  return l;
}

}  // namespace

void TMainFormUi::Setup(QMainWindow* W, TSourceList& AList, TProfilePanel& P) {
  auto* central = new QWidget(W);
  central->setObjectName("pnlMain");
  W->setCentralWidget(central);

  // --- menus
  QMenuBar* bar = W->menuBar();
  mnuFile = bar->addMenu(QObject::tr("&File"));
  actAddFiles = mnuFile->addAction(QObject::tr("Add audio files"));
  actAddFolder = mnuFile->addAction(QObject::tr("Add folder..."));
  actAddFolder->setObjectName("actAddFolder");
  actStartConversion = mnuFile->addAction(QObject::tr("Start Conversion"));
  actFileInformation = mnuFile->addAction(QObject::tr("File Information"));
  mnuFile->addSeparator();
  actExit = mnuFile->addAction(QObject::tr("Exit"));
  mnuEdit = bar->addMenu(QObject::tr("&Edit"));
  actRemove = mnuEdit->addAction(QObject::tr("Remove"));
  actClearAll = mnuEdit->addAction(QObject::tr("Clear All"));
  actRename = mnuEdit->addAction(QObject::tr("Rename"));
  mnuEdit->addSeparator();
  actMoveUp = mnuEdit->addAction(QObject::tr("Move Up"));
  actMoveDown = mnuEdit->addAction(QObject::tr("Move Down"));
  mnuEdit->addSeparator();
  actTrimAudio = mnuEdit->addAction(QObject::tr("Trim Audio..."));
  mnuEdit->addSeparator();
  actSelectAll = mnuEdit->addAction(QObject::tr("Select All"));
  actSelectAll->setObjectName("actSelectAll");
  actPlayPause = mnuEdit->addAction(QObject::tr("Play/Pause Preview"));
  actPlayPause->setObjectName("actPlayPause");
  mnuTools = bar->addMenu(QObject::tr("&Tools"));
  actEventsLog = mnuTools->addAction(QObject::tr("Events Log"));
  actKeepList = mnuTools->addAction(QObject::tr("Keep the list between sessions"));
  actKeepList->setObjectName("actKeepList");
  actKeepList->setCheckable(true);
  actKeepList->setChecked(true);
  mnuHelp = bar->addMenu(QObject::tr("&Help"));
  actOnlineGuide = mnuHelp->addAction(QObject::tr("Online Guide"));
  actSupport = mnuHelp->addAction(QObject::tr("Support"));
  actMoreFreeware = mnuHelp->addAction(QObject::tr("More Freeware"));
  QMenu* tell = mnuHelp->addMenu(QObject::tr("Tell a Friend"));
  actOnFacebook = tell->addAction(QObject::tr("On Facebook"));
  actOnTwitter = tell->addAction(QObject::tr("On Twitter"));
  mnuHelp->addSeparator();
  actAbout = mnuHelp->addAction(QObject::tr("About"));

  // --- the list's pop-up menu
  QTableWidget* grid = AList.Grid();
  auto popup = [&](const QString& AText) {
    auto* a = new QAction(AText, grid);
    grid->addAction(a);
    return a;
  };
  popAddFiles = popup(QObject::tr("Add Files..."));
  popAddFolder = popup(QObject::tr("Add Folder..."));
  popRemove = popup(QObject::tr("Remove"));
  popClearAll = popup(QObject::tr("Clear All"));
  popRename = popup(QObject::tr("Rename"));
  popMoveUp = popup(QObject::tr("Move Up"));
  popMoveDown = popup(QObject::tr("Move Down"));
  popTrimAudio = popup(QObject::tr("Trim Audio..."));
  popFileInformation = popup(QObject::tr("File Information"));
  popConvertAgain = popup(QObject::tr("Convert again"));

  auto* root = new QVBoxLayout(central);
  root->setContentsMargins(10, 8, 10, 8);
  root->setSpacing(6);

  // --- top row: Add, Clear, Trim ... Like, Tweet
  auto* top = new QHBoxLayout;
  btnAdd = ImageButton("btnAdd", QObject::tr("Add "), central);
  btnClear = ImageButton("btnClear", QObject::tr("Clear"), central);
  btnTrim = ImageButton("btnTrim", QObject::tr("Trim"), central);
  btnLike = ImageButton("btnLike", QObject::tr("Like"), central);
  btnTweet = ImageButton("btnTweet", QObject::tr("Tweet"), central);
  top->addWidget(btnAdd);
  btnAddMenu = new QToolButton(central);
  btnAddMenu->setObjectName("btnAddMenu");
  btnAddMenu->setArrowType(Qt::DownArrow);
  btnAddMenu->setPopupMode(QToolButton::InstantPopup);
  btnAddMenu->setToolTip(QObject::tr("Add files or a folder"));
  auto* addMenu = new QMenu(btnAddMenu);
  addMenuFiles = addMenu->addAction(QObject::tr("Add files..."));
  addMenuFolder = addMenu->addAction(QObject::tr("Add folder..."));
  addMenuFolder->setObjectName("addMenuFolder");
  btnAddMenu->setMenu(addMenu);
  top->addWidget(btnAddMenu);
  top->addWidget(btnClear);
  top->addWidget(btnTrim);
  top->addStretch(1);
  top->addWidget(btnLike);
  top->addWidget(btnTweet);
  root->addLayout(top);

  // --- middle: the list area (left) and the preview player (right)
  auto* middle = new QHBoxLayout;
  // The list's frame and the player's panel meet: the player keeps the
  // room its transport row and play time need in the smallest window.
  middle->setSpacing(0);
  auto* listColumn = new QVBoxLayout;
  stkList = new QStackedWidget(central);
  stkList->setObjectName("stkList");
  // The smallest the list gets (seven rows and its header); a larger window
  // gives it all the room it gains. The rows below it take what they need
  // first, so that the smallest window clips none of their controls.
  stkList->setMinimumSize(446, 180);
  stkList->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  pnlGettingStarted = new QWidget(stkList);
  pnlGettingStarted->setObjectName("pnlGettingStarted");
  pnlGettingStarted->setAttribute(Qt::WA_StyledBackground, true);
  auto* gs = new QVBoxLayout(pnlGettingStarted);
  gs->setContentsMargins(16, 14, 16, 14);
  imgDragDrop = new QLabel(pnlGettingStarted);
  imgDragDrop->setObjectName("imgDragDrop");
  imgDragDrop->setAlignment(Qt::AlignCenter);
  lblGettingStarted = new QLabel(pnlGettingStarted);
  lblGettingStarted->setObjectName("lblGettingStarted");
  lblGettingStarted->setAlignment(Qt::AlignCenter);
  btnOpenForGs = ImageButton("btnOpenForGs", QObject::tr("Add audio files"), pnlGettingStarted);
  gs->addWidget(imgDragDrop, 1);
  gs->addWidget(lblGettingStarted);
  gs->addWidget(btnOpenForGs, 0, Qt::AlignHCenter);
  stkList->addWidget(pnlGettingStarted);
  grid->setParent(stkList);
  stkList->addWidget(grid);
  listColumn->addWidget(stkList);
  auto* trimRow = new QHBoxLayout;
  edTimeStart = new QTimeEdit(central);
  edTimeStart->setObjectName("edTimeStart");
  edTimeStart->setDisplayFormat(QString::fromLatin1(kTrimTimeFormat));
  edTimeEnd = new QTimeEdit(central);
  edTimeEnd->setObjectName("edTimeEnd");
  edTimeEnd->setDisplayFormat(QString::fromLatin1(kTrimTimeFormat));
  trimRow->addWidget(Caption(QObject::tr("Start:"), central));
  trimRow->addWidget(edTimeStart);
  trimRow->addSpacing(12);
  trimRow->addWidget(Caption(QObject::tr("End:"), central));
  trimRow->addWidget(edTimeEnd);
  trimRow->addStretch(1);
  listColumn->addLayout(trimRow);
  middle->addLayout(listColumn, 1);

  pnlPlayer = new QWidget(central);
  pnlPlayer->setObjectName("pnlPlayer");
  pnlPlayer->setAttribute(Qt::WA_StyledBackground, true);
  auto* player = new QVBoxLayout(pnlPlayer);
  player->setContentsMargins(8, 8, 8, 8);
  pnlPreview = new QLabel(QObject::tr("Preview"), pnlPlayer);
  pnlPreview->setObjectName("pnlPreview");
  pnlPreview->setAlignment(Qt::AlignCenter);
  pnlPreview->setMinimumHeight(120);
  player->addWidget(pnlPreview, 1);
  sldPosition = new QSlider(Qt::Horizontal, pnlPlayer);
  sldPosition->setObjectName("sldPosition");
  player->addWidget(sldPosition);
  auto* transport = new QHBoxLayout;
  btnPlay = ImageButton("btnPlay", QObject::tr("Play"), pnlPlayer);
  btnPause = ImageButton("btnPause", QObject::tr("Pause"), pnlPlayer);
  btnStop = ImageButton("btnStop", QObject::tr("Stop"), pnlPlayer);
  lblPlayTime = new QLabel(QStringLiteral("00:00:00 / 00:00:00"), pnlPlayer);
  lblPlayTime->setObjectName("lblPlayTime");
  transport->addWidget(btnPlay);
  transport->addWidget(btnPause);
  transport->addWidget(btnStop);
  transport->addStretch(1);
  transport->addWidget(lblPlayTime);
  player->addLayout(transport);
  // The player keeps the width it has in the smallest window.
  pnlPlayer->setFixedWidth(kPlayerWidth);
  middle->addWidget(pnlPlayer);
  root->addLayout(middle, 1);

  // --- profile and choices
  auto* settings = new QWidget(central);
  settings->setObjectName("pnlSettings");
  settings->setAttribute(Qt::WA_StyledBackground, true);
  auto* g = new QGridLayout(settings);
  g->setContentsMargins(8, 6, 8, 6);
  g->setHorizontalSpacing(6);
  g->setVerticalSpacing(4);
  P.cmbProfile->setParent(settings);
  P.cmbProfile->setMinimumWidth(200);
  g->addWidget(Caption(QObject::tr("Profile:"), settings), 0, 0);
  g->addWidget(P.cmbProfile, 0, 1, 1, 3);
  P.chApplyToAll->setParent(settings);
  g->addWidget(P.chApplyToAll, 0, 4);
  struct TChoice {
    const char* Caption;
    QComboBox* Box;
  };
  const TChoice choices[] = {{"Quality", P.cmbQuality},  {"Sample", P.cmbSampleRate}, {"Bit rate", P.cmbAudioBitRate},
                             {"Channels", P.cmbChannel}, {"Codec", P.cmbAudioEncoder}};
  int col = 0;
  for (const TChoice& c : choices) {
    c.Box->setParent(settings);
    auto* cell = new QVBoxLayout;
    cell->setSpacing(1);
    cell->addWidget(Caption(QObject::tr(c.Caption), settings));
    cell->addWidget(c.Box);
    g->addLayout(cell, 1, col++);
  }
  chMerge = new QCheckBox(QObject::tr("Merge to one file"), settings);
  chMerge->setObjectName("chMerge");
  g->addWidget(chMerge, 0, 5, 1, 2);
  chVerify = new QCheckBox(QObject::tr("Verify lossless outputs"), settings);
  chVerify->setObjectName("chVerify");
  chVerify->setToolTip(QObject::tr("Decode each FLAC, ALAC, WAV or AIFF output and compare it with its source"));
  g->addWidget(chVerify, 1, 5, 1, 2);
  auto* vol = new QHBoxLayout;
  vol->addWidget(Caption(QObject::tr("Vol. (%):"), settings));
  edVolume = new QSpinBox(settings);
  edVolume->setObjectName("edVolume");
  edVolume->setRange(1, 5000);
  edVolume->setValue(100);
  vol->addWidget(edVolume);
  // The level of the outputs on a row of its own: in the smallest window the
  // profile's rows leave no room for it.
  loudness = new TLoudnessChoice(*edVolume, settings);
  vol->addSpacing(16);
  vol->addWidget(loudness, 1);
  g->addLayout(vol, 2, 0, 1, 7);
  root->addWidget(settings);

  // --- output folder and Convert
  auto* bottom = new QHBoxLayout;
  auto* out = new QGridLayout;
  out->addWidget(Caption(QObject::tr("Output folder:"), central), 0, 0, 1, 3);
  edDestinationFolder = new QLineEdit(central);
  edDestinationFolder->setObjectName("edDestinationFolder");
  btnBrowse = new QPushButton(QObject::tr("Browse..."), central);
  btnBrowse->setObjectName("btnBrowse");
  btnFindTarget = new QPushButton(QObject::tr("Find target"), central);
  btnFindTarget->setObjectName("btnFindTarget");
  out->addWidget(edDestinationFolder, 1, 0);
  out->addWidget(btnBrowse, 1, 1);
  out->addWidget(btnFindTarget, 1, 2);
  // How the outputs are named beneath the folder (its own class: presets,
  // the live example).
  fldNames = new TOutputNamesField(central);
  fldNames->Bind(AList, P.Profiles());
  out->addWidget(fldNames, 2, 0, 1, 3);
  bottom->addLayout(out, 1);
  btnConvert = ImageButton("btnConvert", QObject::tr("Convert all"), central);
  bottom->addWidget(btnConvert, 0, Qt::AlignBottom);
  root->addLayout(bottom);
}

}  // namespace quorvel
