// The preview player beside the source list: Play, Pause and Stop, the
// position slider and the play time label, playing the selected row's file
// through the panel's own player. A row with pictures (a video, or a cover
// picture) shows them in the preview box while it plays: the player draws
// into a host widget laid over the box, there only while that row plays.
// A sound alone is played with the display disabled and no window, and the
// box stays dark. Whatever must silence the preview (closing the window, a
// conversion, the trim dialog) calls StopIfActive.
//
// Owner: the user-interface thread; the player raises its events there.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

#include <memory>

#include "app/preview/PlayerLibraries.h"

class QLabel;
class QSlider;
class QAbstractButton;
class QWidget;

namespace quorvel {

class TFFPlayer;
class TPlayerScreen;
// The player's play states (media/player/FFPlay.h); declared here so that
// this header needs not the whole player.
enum TPlayState : int;
class TReportSink;
class TSourceList;

class TPreviewPanel : public QObject {
  Q_OBJECT
public:
  struct TControls {
    QAbstractButton* Play = nullptr;
    QAbstractButton* Pause = nullptr;
    QAbstractButton* Stop = nullptr;
    QSlider* Slider = nullptr;
    QLabel* PlayTime = nullptr;
    QWidget* Box = nullptr;  // where pictures show; none: the preview draws none
  };
  TPreviewPanel(const TControls& AControls, TSourceList& AList, const TPlayerLibraries& ALibraries,
                QObject* AParent = nullptr);
  ~TPreviewPanel() override;

  // The preview's SDL copy (player 0); false when it could not be loaded
  // (reported).
  bool PrepareSdl();

  void PlayButtonClick();
  void PauseButtonClick();
  void StopButtonClick();
  // The one key for both: Pause while a file plays, Play otherwise (which
  // resumes a paused file).
  void PlayPauseClick();
  // Opens AFileName and plays it from its start.
  void OpenAudio(const QString& AFileName);
  // Stop, when a file is playing or paused.
  void StopIfActive();

  TFFPlayer& Player() { return *FPlayer; }
  // The last TPlayState the player reported (psPlay before any). The
  // player's header stays out of the window's: its event types share
  // names with the conversion engine's.
  TPlayState PreviewState() const { return FPreviewState; }
  bool TrackDragging() const { return FTrackDragging; }
  int64_t Duration() const { return FDuration; }
  // The host widget pictures are drawn on while a row with pictures plays;
  // null before the first.
  TPlayerScreen* Screen() const { return FScreen; }
  bool ShowsPictures() const { return FShowsPictures; }
  // Tests stand in for the mouse button.
  void SetButtonProbe(TButtonProbe AProbe) { FLeftButtonDown = std::move(AProbe); }

private:
  void FFPlayerFileOpen(int64_t ADuration, int& AScreenWidth, int& AScreenHeight);
  void FFPlayerPosition(int64_t APosition);
  void FFPlayerState(TPlayState AState);
  void SliderGrabbed();
  void SliderSettled();
  void SetSlider(int AValue);
  QString SelectedSource() const;
  // Another row chosen, or the list changed: a stopped panel no longer
  // shows the length of a file that is not the selected row's.
  void RowChanged();
  // No file's length: the label and slider as at start.
  void ShowNoLength();
  // Whether AFileName is a row of the list with pictures.
  bool HasPictures(const QString& AFileName) const;
  // The host widget over the box, made the first time; shown or hidden.
  void ShowScreen(bool AShow);

  TControls FUi;
  TSourceList& FList;
  const TPlayerLibraries& FLibraries;
  TButtonProbe FLeftButtonDown = IsLeftButtonDown;
  std::unique_ptr<TFFPlayer> FPlayer;
  int64_t FDuration = 0;         // what the player reported for the open file; 0 after a failed open
  QString FShownSource;          // the file whose length the label shows; empty when none
  bool FTrackChanging = false;   // the slider is being set, not dragged
  bool FTrackDragging = false;   // the user holds the knob
  bool FActive = false;          // a file was opened and not stopped since
  TPlayState FPreviewState;  // the last state reported; psPlay before any (set by the constructor)
  TPlayerScreen* FScreen = nullptr;  // a child of the box
  bool FShowsPictures = false;       // the open file is drawn on FScreen
};

}  // namespace quorvel
