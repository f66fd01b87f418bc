// The option records an application fills to describe a conversion task (one
// per input file, one per output file), and the option text that rides in
// them: name=value lines, separated by line breaks or by the literal
// "<CRLF>" (so a whole option list fits in one line of a settings file).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/loudness/Loudness.h"

namespace quorvel {

// The media libraries' value for "no time" (AV_NOPTS_VALUE).
inline constexpr int64_t kNoTime = INT64_MIN;

enum TOptionTargetType { ttIgnore, ttVCD, ttSVCD, ttDVD };
enum TOptionNormType { ntAuto, ntPAL, ntNTSC };
// The norm used when a target's norm cannot be guessed (ntPAL ... ntNTSC).
using TOptionNormDefault = TOptionNormType;

// Container metadata of an output.
struct TStreamInfo {
  // Date-time as a day count from 1899-12-30 in local time: -1 = none,
  // 0 = the time of the conversion.
  double TimeStamp = -1.0;
  int Year = -1;   // written when > 0
  int Track = -1;  // written when > 0
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

struct TInputOptions {
  std::string FileName;     // UTF-8; filled from the operation's file name when empty
  std::string ForceFormat;  // demuxer name; empty: probe
  int64_t TimeStart = kNoTime;
  int ProgramID = -1;       // negative: not set
  std::string ExtOptions;   // option text
  int Tag = 0;              // the application's, unused here
  void* Data = nullptr;     // the application's, unused here
};

// "Not set" values (-1, empty, kNoTime) leave the job's own default.
struct TOutputOptions {
  std::string FileName;
  // Where the bytes go while the output is made, when not under FileName (a
  // temporary name in the same folder that the caller renames once the
  // output is complete); FileName still chooses the container.
  std::string WriteTo;
  std::string FileExt;  // the application's, unused here
  std::string ForceFormat;
  int PacketSize = -1;
  int MuxRate = -1;
  float MuxDelay = -1.0f;
  float MuxPreload = -1.0f;
  std::string AudioCodec;
  std::string AudioPreset;
  bool DisableAudio = false;
  int AudioVolume = -1;  // 256 = unchanged
  // Loudness: measure what is encoded (the task's end carries the meter),
  // and/or normalise with one constant gain (dB) under a true-peak ceiling
  // (dBTP), which replaces AudioVolume.
  bool MeasureLoudness = false;
  bool Normalise = false;
  double NormaliseGainDb = 0;
  double TruePeakCeiling = -1;
  // When set, the gain comes from here at the start of the encoding (and
  // NormaliseGainDb is not used).
  std::shared_ptr<TNormalisingGain> NormaliseGain;
  int AudioChannels = -1;
  int AudioSampleRate = -1;
  int AudioBitrate = -1;  // only with TargetType ttIgnore
  int AudioBitRateTolerance = -1;
  std::string AudioLanguage;
  int AudioSyncMethod = 0;
  std::string AudioTag;
  std::string VideoCodec;
  std::string VideoPreset;
  bool DisableVideo = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string FrameAspectRatio;
  int GroupPictureSize = -1;
  int VideoBitrate = -1;  // only with TargetType ttIgnore
  int VideoMaxRate = -1;
  int VideoMinRate = -1;
  int VideoBitRateTolerance = -1;
  int VideoBufSize = -1;
  int VideoSyncMethod = -1;  // -1 = automatic
  std::string VideoTag;
  std::string VideoFilters;
  std::string VideoLanguage;
  std::string SubtitleCodec;
  std::string SubtitlePreset;
  bool DisableSubtitle = false;
  std::string SubtitleLanguage;
  bool InputSync = false;
  bool CopyTimestamp = false;
  int64_t TimeStart = kNoTime;
  int64_t TimeLength = kNoTime;
  TStreamInfo Info;
  TOptionTargetType TargetType = ttIgnore;
  TOptionNormType NormType = ntAuto;
  TOptionNormDefault NormDefault = ntPAL;
  bool AudioHook = false;
  bool VideoInputHook = false;
  bool VideoOutputHook = false;
  int VideoHookBitsPixel = 24;
  bool Join = false;
  std::string ExtOptions;
  int Tag = 0;
  void* Data = nullptr;
};

// The defaulting operations the application calls before filling a record.
void InitInputOptions(TInputOptions& AOptions);
void InitOutputOptions(TOutputOptions& AOptions);

// One line of option text. Names keep their letter case here; the rules
// that read them compare in lower case.
struct TOptionLine {
  std::string Name;
  std::string Value;
};

// Trims the text, unifies its line breaks, turns "<CRLF>" into a line break
// and cuts it into lines (an empty line between two breaks is kept). A line
// is split at its first "="; without one it is all name.
std::vector<TOptionLine> SplitOptionText(const std::string& AText);

// The text forms of the operations: a few names set record fields, every
// other line is kept in ExtOptions.
//   input:  "TimeStart" (µs; unreadable: no time)
//   output: "AudioHook", "VideoInputHook", "VideoOutputHook", "Join" (false
//           only for "0"), "VideoHookBitsPixel" (unreadable: 24),
//           "TimeStart", "TimeLength" (µs; unreadable: no time)
TInputOptions InputOptionsFromText(const std::string& AText);
TOutputOptions OutputOptionsFromText(const std::string& AText);

// Seconds since 1970-01-01 UTC of a local date-time given as a day count
// from 1899-12-30.
int64_t LocalDayCountToUnixTime(double ADays);

}  // namespace quorvel
