// The rules of a batch that the window program and the command-line
// converter share: how a row (a file with its trim, the volume and the
// profile's choices) becomes the task manager's option records, and how
// many inputs one joined file may have.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "media/encoder/EncoderOptions.h"

namespace quorvel {

// One task reads at most this many inputs, so a joined file has no more.
inline constexpr int kMaxMergedFiles = 20;

// The output format chosen for a row.
struct TBatchFormat {
  std::string Ext;  // with the dot: ".mp3"
  std::string Codec;
  int Channels = 0;
  int SampleRate = 0;
  int Bitrate = 0;
  // The container, when the profile names one: an extension like ".m4r"
  // that the libraries do not know still gets its format.
  std::string Container;
};

// One source of a batch.
struct TBatchRow {
  std::string Source;
  std::string Title;  // the output's name without folder and extension ({name} of a pattern)
  // The folder the source was added from (a folder walked), "" for a file
  // added itself: {folder} of a pattern is the source's place beneath it.
  std::string Root;
  // The source's tags when the caller has read them already (TagsKnown);
  // otherwise a pattern that needs them reads them itself.
  std::map<std::string, std::string> Tags;
  bool TagsKnown = false;
  TBatchFormat Format;
  int64_t TimeStart = kNoTime;  // kNoTime: from the beginning
  // kNoTime or negative: to the end. A length the probe could not tell
  // leaves the end open, so the whole source is converted rather than
  // nothing.
  int64_t TimeEnd = kNoTime;
};

// Percent to the engine's volume (256 = unchanged), rounded to the nearest.
int VolumeFromPercent(int APercent);

// The records of one row. A joined file ignores the rows' trims: it is made
// of whole inputs.
void FillInputRecord(const TBatchRow& ARow, bool AMerge, TInputOptions& ARecord);
void FillOutputRecord(const TBatchRow& ARow, int AVolumePercent, bool AMerge, TOutputOptions& ARecord);

// A source that ends long before the length it states (a file cut short in
// a copy or a download: its header still tells the whole length) converts
// to what there is, which the user should hear about. AStated: the length
// the output was expected to have (µs, ≤0 unknown); AReached: what it got.
// Returns the warning's text, naming both lengths, or empty when the source
// gave (nearly) what it stated.
std::string ShortSourceWarning(int64_t AStated, int64_t AReached);

// The batch's fraction done (0 ... 1): each task's fraction weighted by its
// expected duration (a task of unknown duration weighs as the mean of the
// known ones, or 1 when none is known).
double BatchFraction(const std::vector<int64_t>& AWeights, const std::vector<double>& AFractions);

}  // namespace quorvel
