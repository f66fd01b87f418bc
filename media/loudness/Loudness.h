// Loudness by ITU-R BS.1770 with the EBU R128 gating (libebur128): the
// meter a conversion feeds with what it encodes (or an analysis with what it
// decodes), the album figure from several meters merged, the tag texts of
// ReplayGain 2.0 and of Opus, and the limiter that keeps a normalised
// output's true peak under its ceiling.
//
// Threads: a meter or a limiter belongs to the thread that feeds it; a
// meter whose feeding has ended may be read (Result, Album) from any thread.
// A meter hands what it is fed to a thread of its own, which runs the
// library (see TLoudnessMeter).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <ebur128.h>  // its state is an unnamed struct: it cannot be declared ahead

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace quorvel {

// One measurement. Silence (or audio that never passes the gate) has no
// integrated loudness: Integrated is then -infinity, and so are the peaks
// of digital silence.
struct TLoudness {
  double Integrated = 0;  // LUFS
  double Range = 0;       // LU
  double SamplePeak = 0;  // dBFS
  double TruePeak = 0;    // dBTP
  bool Valid = false;     // the meter saw audio at all
  bool HasIntegrated() const;
};

class TLoudnessMeter {
 public:
  // AChannels described by ALayout when it is a native layout (LFE left
  // out, surround channels weighted by BS.1770); otherwise the first two
  // are left and right and a third centre.
  TLoudnessMeter(const AVChannelLayout& ALayout, int ARate);
  ~TLoudnessMeter();
  TLoudnessMeter(const TLoudnessMeter&) = delete;
  TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;

  int Channels() const { return FChannels; }
  int Rate() const { return FRate; }
  // ACount frames in any of the library's sample formats, planar or packed.
  void Add(const uint8_t* const* APlanes, AVSampleFormat AFormat, int ACount);
  void AddInterleaved(const float* AData, size_t ACount);
  TLoudness Result() const;
  int64_t Frames() const { return FFrames; }

  // The gated loudness of all the meters' audio together (not the mean of
  // their figures), their widest range of the merged short-term loudness,
  // and the highest peaks. Meters of other rates or layouts may be mixed.
  static TLoudness Album(const std::vector<const TLoudnessMeter*>& AMeters);

 private:
  struct TFree {
    void operator()(ebur128_state* AState) const;
  };
  // The library's filters cost more than decoding, so the meter runs them on
  // a thread of its own (the "loudness" thread), beside the decoding or
  // encoding that feeds it: on a machine with a core to spare, measuring
  // costs the feeder little more than a copy. The feeder fills FStaging and
  // hands it over whole; it waits only while kMaxBlocks blocks are queued.
  // FState belongs to that thread until Drain has seen the queue empty.
  void HandOver(std::vector<float>&& ABlock);
  void FeedLoop();
  void Drain() const;
  std::unique_ptr<ebur128_state, TFree> FState;
  int FChannels = 0;
  int FRate = 0;
  int64_t FFrames = 0;         // the feeder's count
  std::vector<float> FBuffer;  // the feeder's: other formats as interleaved floats
  mutable std::vector<float> FStaging;  // the feeder's, and Drain's once feeding has ended
  mutable std::mutex FLock;             // guards the four below
  mutable std::condition_variable FChanged;
  mutable std::deque<std::vector<float>> FBlocks;  // handed over, not yet measured
  std::vector<std::vector<float>> FSpare;          // measured, kept for reuse
  bool FBusy = false;                              // the thread is measuring a block
  bool FStop = false;                              // the meter is going
  std::thread FFeeder;                             // started with the first block
  // The true peak, found here below 96 kHz (see Loudness.cpp).
  void AddTruePeak(const float* AData, size_t ACount);
  double TruePeakLinear() const;
  bool FOwnTruePeak = false;
  std::vector<float> FTruePeaks;              // per channel, linear
  std::vector<std::vector<float>> FTpLine;    // per channel: the filter's last samples
  std::vector<float> FTpOut;                  // one phase's values over a block
};

// Samples of any of the library's formats, planar or packed, to and from
// interleaved doubles of full scale 1 (written back rounded and clamped to
// the format's range).
void SamplesToDoubles(const uint8_t* const* APlanes, AVSampleFormat AFormat, int AChannels, int AFirst, int ACount,
                      double* AOut);
void DoublesToSamples(const double* AData, int ACount, int AChannels, AVSampleFormat AFormat, uint8_t* const* APlanes);

// ReplayGain 2.0 reference loudness, and Opus's (RFC 7845) gain reference.
inline constexpr double kReplayGainReference = -18.0;
inline constexpr double kOpusGainReference = -23.0;

// "+5.00 dB": the gain that brings ALoudness to the ReplayGain reference.
double ReplayGainDb(const TLoudness& ALoudness);
std::string ReplayGainText(double AGainDb);
// "0.707946": a peak in dBFS as a linear figure.
std::string ReplayPeakText(double APeakDb);
// Opus R128 gain: Q7.8 fixed point (1/256 dB) towards -23 LUFS.
int OpusR128Gain(const TLoudness& ALoudness);

// The tags of one output: name and text, in the order they are written.
using TLoudnessTags = std::vector<std::pair<std::string, std::string>>;
// ReplayGain tags (or Opus's R128 comments when AOpus) for a track and,
// when AAlbum is given, its album.
TLoudnessTags LoudnessTags(const TLoudness& ATrack, const TLoudness* AAlbum, bool AOpus);

// The one constant gain that normalises AMeasured to ATarget LUFS (0 when
// nothing could be measured).
double NormalisingGainDb(const TLoudness& AMeasured, double ATargetLufs);

// A constant gain followed by a true-peak limiter: the gain applies to every
// sample; the limiter lowers it only around the peaks that would pass the
// ceiling (a 1.5 ms ramp down ahead of the peak, seen through a lookahead,
// and a 100 ms ramp back), so the music's dynamics stay as they were.
// Peaks are looked for between the samples too (4x oversampled), so the
// ceiling holds for the true peak.
class TPeakLimiter {
 public:
  TPeakLimiter(int AChannels, int ARate, double AGainDb, double ACeilingDb);
  // Frames of lookahead Process wants beyond those it changes.
  int Lookahead() const { return FLookahead; }
  // AData holds ACount + ALook interleaved frames (ALook <= Lookahead(), less
  // only at the end of the stream); the first ACount get the gain and the
  // limiting, the rest are only looked at.
  void Process(double* AData, int ACount, int ALook);
  // Frames whose gain the limiter lowered, and its deepest cut (dB, <= 0).
  int64_t LimitedFrames() const { return FLimited; }
  double DeepestCutDb() const { return FDeepest; }

 private:
  double PeakAt(const double* AData, int AFrames, int AIndex) const;
  int FChannels;
  double FGain;
  double FCeiling;
  int FLookahead;
  double FRelease;  // gain regained per frame
  double FEnvelope = 1.0;
  std::vector<double> FHistory;  // the last kHistory input frames, interleaved (gain not applied)
  std::vector<double> FNeed;     // scratch: the gain each frame may have at most
  std::vector<double> FWork;     // scratch: history + this block
  int64_t FLimited = 0;
  double FDeepest = 0;
};

// Where a normalising conversion takes its gain from: asked on the job's
// own thread when its first frame is about to be encoded, so that the
// measuring a gain needs costs no caller's thread (a window stays live),
// runs on the batch's workers, and sees the audio as the encoder gets it
// (AChannels: the channel count after any fold-down). AStopped tells
// whether the job has been asked to stop; the answer then does not matter.
class TNormalisingGain {
 public:
  virtual ~TNormalisingGain() = default;
  virtual double GainDb(int AChannels, const std::function<bool()>& AStopped) = 0;
};

}  // namespace quorvel
