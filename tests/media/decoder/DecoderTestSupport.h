// Helpers of the probe and decoder tests: the libraries, captured log lines,
// and input files made at test time (by sox, or written here through the
// media libraries when a container feature is needed that no tool at hand
// writes).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "media/decoder/FFDecode.h"
#include "media/runtime/FFLog.h"

namespace quorvel::test {

// Loads the decoder's library set (once per process).
class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override;
};

// Collects the log collector's lines while it lives (delivered on the
// logging thread), at every level down to ALevel.
class LogCapture {
 public:
  struct Line {
    const TObject* Sender;
    TLogLevel Level;
    std::string Text;
  };
  explicit LogCapture(TLogLevel ALevel = llDebug);
  ~LogCapture();
  std::vector<Line> Lines() const;
  // Lines sent by ASender.
  std::vector<Line> From(const TObject* ASender) const;
  bool Has(const TObject* ASender, TLogLevel ALevel, const std::string& AText) const;

 private:
  TLogLevel FSavedLevel;
  bool FSavedInMainThread;
  mutable std::mutex FLock;
  std::vector<Line> FLines;
};

// A tone made by sox: a sine of AFrequency Hz at AAmplitude (0..1 of full
// scale) for ASeconds, ARate Hz, AChannels channels. AEncoding are sox's
// output options before the file name (e.g. "-e floating-point -b 32").
std::string MakeTone(const std::string& ADir, const std::string& AName, int ARate, int AChannels, double ASeconds,
                     double AFrequency, double AAmplitude, const std::string& AEncoding = "");

// A NUT file written through the media libraries: optionally a data stream
// first, then one 16-bit PCM audio stream of ASeconds of silence at 8000 Hz
// mono, with the given container metadata (key, value pairs, kept in letter
// case) and chapters of one second each.
struct TNutContents {
  bool DataStreamFirst = false;
  double Seconds = 1.0;
  std::vector<std::pair<std::string, std::string>> Metadata;
  std::vector<std::pair<std::string, std::string>> AudioMetadata;
  int Chapters = 0;
};
std::string WriteNut(const std::string& APath, const TNutContents& AContents);

// An MPEG transport stream with one program (provider and service name set)
// carrying the MPEG audio packets of ASource's first audio stream.
std::string WriteTransportStream(const std::string& APath, const std::string& ASource, const std::string& AProvider,
                                 const std::string& AService);

// Interleaved 16-bit samples: their RMS over all channels, in full scale units.
double RmsS16(const std::vector<int16_t>& ASamples);

}  // namespace quorvel::test
