// The command line of quorvel-convert: what the user asked for, checked for
// form only (the profile's own choices are checked in ProfileChoice).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/encoder/EncoderOptions.h"
#include "media/runtime/Exception.h"

namespace quorvel::cli {

// A mistake on the command line; the program prints it with a pointer to
// --help and exits with kExitUsage.
class EUsage : public Exception {
public:
  using Exception::Exception;
};

// Exit statuses.
inline constexpr int kExitOk = 0;           // every file converted
inline constexpr int kExitFailed = 1;       // at least one file (or folder) did not convert
inline constexpr int kExitUsage = 2;        // bad command line, profile set or libraries
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C (128 + SIGINT)

// What happens to the loudness of the outputs.
enum class TLoudnessMode {
  Off,        // nothing measured, nothing changed
  Tags,       // measured while converting and written as ReplayGain (Opus: R128) tags
  Normalise,  // one constant gain to reach TargetLufs, peaks kept under TruePeak
};

struct TCliOptions {
  bool Help = false;
  bool ListProfiles = false;
  std::string Profile;  // empty: the first profile of the set
  std::optional<std::string> Codec, Bitrate, SampleRate, Channels;
  int Volume = 100;  // percent, 1 ... 5000
  int64_t Start = kNoTime;  // µs, applied to every file
  int64_t End = kNoTime;    // µs
  std::string OutputDir = ".";
  bool Merge = false;
  bool Verify = false;  // decode each lossless output and compare it with its source
  int Jobs = 0;  // 0: one per processor core
  bool Overwrite = false;
  TLoudnessMode Loudness = TLoudnessMode::Off;
  double TargetLufs = -18;  // normalising target
  double TruePeak = -1;     // dBTP, the normalised output's ceiling
  bool Album = false;       // rows of one source folder share their gain
  bool Analyse = false;     // measure and print, convert nothing
  std::vector<std::string> Files;
  // Folders among Files are walked (their files beneath, hidden ones left
  // out, in natural order); without it a folder is refused.
  bool Recursive = false;
  // Further sources, one a line ("-": the standard input); NulSeparated:
  // separated by NUL characters instead (find -print0).
  std::string FilesFrom;
  bool NulSeparated = false;
  // The outputs' names (see media/batch/NamePattern.h); unset: named after
  // each input in the output folder, or "{folder}/{name}" with --recursive.
  std::optional<std::string> NamePattern;
  bool PosixNames = false;
  // replace, rename (the default: a free "NAME (n)" name) or skip (an
  // output newer than its source stands for it).
  enum class TExisting { Rename, Replace, Skip };
  TExisting Existing = TExisting::Rename;
  bool DeleteExtra = false;  // list outputs no source maps to
  bool Yes = false;          // and remove them without asking
  int ShardIndex = 0, ShardCount = 0;  // --shard K/N: 1 <= K <= N; 0: no shard
  // One JSON object a line on the standard output: a finished file each, or
  // with Analyse each file's and album's figures.
  bool Json = false;
};

// Reads the arguments after the program name. Options take their value as
// the next argument or after "=" ("--jobs 2", "--jobs=2"); "--" ends the
// options. Throws EUsage.
TCliOptions ParseArguments(const std::vector<std::string>& AArgs);

// "HH:MM:SS[.mmm]" (also "MM:SS" and "SS", with up to six decimals) as µs.
// Throws EUsage naming AOption.
int64_t ParseClock(const std::string& AOption, const std::string& AText);

// A time in µs as "H:MM:SS.mmm".
std::string ClockText(int64_t AMicroseconds);

std::string HelpText();

}  // namespace quorvel::cli
