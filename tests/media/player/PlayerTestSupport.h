// Helpers of the player tests: the libraries and per-player SDL copies, the
// disk audio device (the exact bytes that reached the device), the decoder's
// own decode of a source in the device format, the comparison of the two,
// and a recorder of the player's events.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "media/player/FFPlay.h"

namespace quorvel::test {

// The folder of the system's SDL 1.2 library file.
std::string SystemSDLFolder();
// A private copy of the system SDL named "SDL_<n>" in a folder of this test
// process; returns the folder (the file name is SDLCopyName(n)).
std::string SDLCopyFolder();
std::string SDLCopyName(int n);

// Loads the player's libraries (once per process).
class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Loads copy n into APlayer.
  void LoadCopy(TCustomPlayer& APlayer, int n);
  std::string Dir;  // the test's scratch folder
};

// The disk audio driver writing to one file; ADelayMs is the pause after each
// device buffer (0: as fast as the reader can go).
std::string UseDiskDevice(const std::string& APath, int ADelayMs = 2);
std::vector<int16_t> ReadSamples(const std::string& APath);

// The source decoded by the decoder into interleaved signed 16-bit with the
// given channel count and rate.
std::vector<int16_t> DecodeSource(const std::string& APath, int AChannels, int ARate, int AStream = -1);

// Index of the first sample frame with a non-zero value, or the frame count.
size_t FirstSound(const std::vector<int16_t>& ASamples, int AChannels, size_t AFrom = 0);

// Compares ACount frames of AGot from AGotFrom with AWant from AWantFrom,
// within ATolerance per value; a failure names the first differing frame.
::testing::AssertionResult SameFrames(const std::vector<int16_t>& AGot, size_t AGotFrom,
                                      const std::vector<int16_t>& AWant, size_t AWantFrom, size_t ACount,
                                      int AChannels, int ATolerance);

// Checks that AGot is leading silence, then every frame of AWant (the whole
// source, aligned on its first sound), then silence only.
::testing::AssertionResult PlayedExactly(const std::vector<int16_t>& AGot, const std::vector<int16_t>& AWant,
                                         int AChannels, int ATolerance);

// The frame of AWant (searched from AFrom to ATo) where AGot's frames from
// AGotFrom continue for AWindow frames, or -1.
int64_t FindContinuation(const std::vector<int16_t>& AGot, size_t AGotFrom, const std::vector<int16_t>& AWant,
                         int64_t AFrom, int64_t ATo, size_t AWindow, int AChannels, int ATolerance);

// Runs ACall on a thread of its own and waits, up to a generous limit that
// only catches a hang, for it to return. When it does not, AUnblock (e.g. a
// Stop) is called to release it before the thread is joined; false then.
bool ReturnsInTime(const std::function<void()>& ACall, const std::function<void()>& AUnblock);

// A listening TCP socket on the loopback address at a port the system
// chose (APort); the caller closes it.
int ListenOnLoopback(int ABacklog, int& APort);

// Polls ADone every 10 ms until it holds; false only after a generous limit
// that catches a hang.
bool PollUntil(const std::function<bool()>& ADone);

// Records what a player reports; waits for states.
class EventRecorder {
 public:
  explicit EventRecorder(TCustomPlayer& APlayer);
  ~EventRecorder();
  // Waits (up to a generous limit that only catches a hang) for AState.
  bool WaitFor(TPlayState AState);
  // Waits for a position at or beyond APTS.
  bool WaitForPosition(int64_t APTS);
  // Waits until APredicate (called with the states and positions so far) holds.
  bool WaitUntil(const std::function<bool(const std::vector<TPlayState>&, const std::vector<int64_t>&)>& APredicate);
  std::vector<TPlayState> States() const;
  std::vector<int64_t> Positions() const;
  int FileOpens() const;
  int64_t OpenedDuration() const;
  // The picture size OnFileOpen gave last ({-2, -2} before any).
  std::pair<int, int> OpenedFrameSize() const;

 private:
  TCustomPlayer& FPlayer;
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TPlayState> FStates;
  std::vector<int64_t> FPositions;
  int FFileOpens = 0;
  int64_t FDuration = -2;
  std::pair<int, int> FFrameSize{-2, -2};
};

// A sine sweeping from 100 Hz to 3000 Hz (no stretch of it repeats another,
// so a position in it is found by its samples), made by sox; AEncoding are
// sox's output options (e.g. "-b 16", "-C 128").
std::string MakeSweep(const std::string& ADir, const std::string& AName, int ARate, int AChannels, double ASeconds,
                      const std::string& AEncoding);

// ASource's first audio stream copied into a Matroska file written as a live
// stream: no duration, no index. With a codec of no fixed bit rate (FLAC)
// its duration is unknown to the reader.
std::string RemuxLive(const std::string& ASource, const std::string& APath);

// A file with two 16-bit PCM audio streams (NUT): tones of AFirstHz and
// ASecondHz, ASeconds long, 44100 Hz stereo.
std::string WriteTwoToneFile(const std::string& APath, double AFirstHz, double ASecondHz, double ASeconds);

}  // namespace quorvel::test
