// The trim dialog: plays the selected row's file in its own player (the
// second SDL copy) and lets the user choose the part to convert with two
// handles under the position slider, two buttons that take the play
// position, two time fields, and a loop over the chosen part. OK writes the
// points into the row through the list's own operations; Cancel leaves it.
//
// The picture panel is the players' host widget, so a file with pictures
// shows them there once the player draws them.
//
// Owner: the user-interface thread; the player raises its events there.
#pragma once

#include <QDialog>

#include <cstdint>
#include <memory>

#include "app/shell/CommandGate.h"
#include "app/preview/PlayerLibraries.h"

class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QTimeEdit;

namespace quorvel {

class TFFPlayer;
// The player's play states (media/player/FFPlay.h); declared here so that
// this header needs not the whole player.
enum TPlayState : int;
class TImageButton;
class TPlayerScreen;
class TSkin;
class TSourceList;

// The left edge of a handle standing for media time ATime on a slider
// ASliderWidth pixels wide, for a file of ADuration: the slider's value of
// that time (0..1000) scaled to its width, plus the 10 pixels the handles
// sit left of the slider's track. A length that is not known (0 or -1)
// puts the handle at the start; a time beyond the ends stays at the end.
int TrimHandleX(int ASliderWidth, int64_t ATime, int64_t ADuration);

class TClipForm : public QDialog {
  Q_OBJECT
public:
  static constexpr int kSliderWidth = 456;  // W
  static constexpr int kSliderTop = 300;
  static constexpr int kHandleTop = 324;
  static constexpr int kHandleSize = 12;

  TClipForm(TSourceList& AList, const TPlayerLibraries& ALibraries, QWidget* AParent = nullptr);
  ~TClipForm() override;

  // The handles' pictures and the buttons' images from the skin.
  void FormCreate(const TSkin& ASkin);
  // The selected row's points, and its file playing from the start.
  void FormShow();
  void FormClose();
  // Opens AFileName in the dialog's player from its start; false when it
  // could not (reported).
  bool OpenFile(const QString& AFileName);

  int HandleX(int64_t ATime) const { return TrimHandleX(kSliderWidth, ATime, FDuration); }
  void PlaceTrimLine();
  void SetClipStart(int64_t ATime);
  void SetClipEnd(int64_t ATime);

  // The buttons.
  void PlayButtonClick();
  void PauseButtonClick();
  void StopButtonClick();
  void SetStartClick();
  void SetEndClick();
  void PlayTrimmedClick();
  void StartFieldOkClick();
  void EndFieldOkClick();
  void ResetClick();
  void OkClick();
  void CancelClick();

  // What the dialog holds, for the window's tests.
  TFFPlayer& Player() { return *FPlayer; }
  int64_t ClipStart() const { return FClipStart; }
  int64_t ClipEnd() const { return FClipEnd; }
  int64_t ClipPosition() const { return FClipPosition; }
  bool PlayTrimmed() const { return FPlayTrimmed; }
  int64_t Duration() const { return FDuration; }
  QLabel* StartHandle() const { return FStartHandle; }
  QLabel* EndHandle() const { return FEndHandle; }
  QFrame* TrimLine() const { return FTrimLine; }
  QSlider* Slider() const { return FSlider; }
  QLabel* PlayTime() const { return FPlayTime; }
  QTimeEdit* TimeStart() const { return FTimeStart; }
  QTimeEdit* TimeEnd() const { return FTimeEnd; }
  TPlayerScreen* Screen() const { return FScreen; }
  // A handle was moved and its point is not settled yet.
  bool HandleMoving() const { return FStartDrag.Moved || FEndDrag.Moved; }
  void SetButtonProbe(TButtonProbe AProbe) { FLeftButtonDown = std::move(AProbe); }

  void done(int AResult) override;

protected:
  void showEvent(QShowEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
  struct THandleDrag {
    bool Dragging = false;  // held with the mouse
    bool Moved = false;     // grabbed: every position event sets its point
    bool Released = false;  // let go: the next position event sets its point
    int DragX = 0;          // mouse x inside the handle when grabbed
  };

  void FFPlayer2FileOpen(int64_t ADuration, int& AScreenWidth, int& AScreenHeight);
  void FFPlayer2Position(int64_t APosition);
  void FFPlayer2State(TPlayState AState);
  // The end point is a time of the file (not the length nobody could tell).
  bool EndKnown() const { return FClipEnd > 0 || (FClipEnd == 0 && FDuration > 0); }
  // Nothing lies between the points: there is no part to loop.
  bool PartEmpty() const { return EndKnown() && FClipEnd <= FClipStart; }
  // The loop back to the start point; false when it could not be asked for.
  bool RestartLoop(bool AWaitForSeek);
  // Play, Pause and Play trimmed part: at most one pressed, the one that
  // says what the player does.
  void ShowButtons();
  // A user command through the gate (see TCommandGate).
  void Command(void (TClipForm::*AClick)());
  void HandleDown(bool AStart, int AX);
  void HandleMove(bool AStart, int AX);
  void HandleUp(bool AStart);
  // The media time of a handle's left edge.
  int64_t HandleTime(int ALeft) const;
  void SliderGrabbed();
  void SliderSettled();
  void SetSlider(int AValue);
  void SetHandleLeft(QLabel* AHandle, int ALeft);
  void ReleaseButtons();
  QString SelectedSource() const;

  TSourceList& FList;
  const TPlayerLibraries& FLibraries;
  TButtonProbe FLeftButtonDown = IsLeftButtonDown;
  std::unique_ptr<TFFPlayer> FPlayer;  // its header stays out of the window's (see TPreviewPanel)

  TPlayerScreen* FScreen = nullptr;
  QSlider* FSlider = nullptr;
  QLabel* FStartHandle = nullptr;
  QLabel* FEndHandle = nullptr;
  QFrame* FTrimLine = nullptr;
  TImageButton* FPlayButton = nullptr;
  TImageButton* FPauseButton = nullptr;
  TImageButton* FStopButton = nullptr;
  TImageButton* FSetStartButton = nullptr;
  TImageButton* FSetEndButton = nullptr;
  TImageButton* FPlayTrimmedButton = nullptr;
  QLabel* FPlayTime = nullptr;
  QTimeEdit* FTimeStart = nullptr;
  QTimeEdit* FTimeEnd = nullptr;
  QPushButton* FOkButton = nullptr;

  int64_t FDuration = 0;  // what the player reported for the open file; 0 before and after a failed open
  bool FTrackChanging = false;
  int64_t FClipStart = 0, FClipEnd = 0;
  int64_t FClipPosition = 0;  // the last position above 0 of this opening
  TPlayState FClipPlayState;  // the last state reported; psStop before any (set by the constructor)
  bool FActive = false;    // a file was opened and not stopped since: playing or paused
  bool FPlayTrimmed = false;
  bool FSliderDragging = false;
  // A restart of the loop at the file's end was asked; the end events still
  // queued from before it are not another end.
  bool FLoopRestarting = false;
  THandleDrag FStartDrag, FEndDrag;
  bool FPositionBusy = false;
  bool FClosing = false;
  // The waits for the player (stop, seek, open) serve window events; the
  // buttons, handles and slider wait for them to end.
  TCommandGate* FGate = new TCommandGate(this);  // a child of the dialog
};

}  // namespace quorvel
