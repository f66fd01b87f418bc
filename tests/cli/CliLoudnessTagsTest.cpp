// quorvel-convert --loudness tags: every profile's outputs carry the tags of
// ReplayGain 2.0 (Opus: R128 gains) under their format's own names, read back by
// other programs (mediainfo, metaflac) or from the format's own structure;
// the figures agree with the sources' measurement, and an album's gain is
// the merged measurement of its files, the same in each.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "cli/CliTestSupport.h"
#include "media/batch/LoudnessAnalysis.h"
#include "media/runtime/FFLoad.h"

namespace quorvel {
namespace {

using test::Quote;

enum class TReader {
  MediaInfo,   // ID3v2 TXXX, ASF attributes, MP4 freeform atoms, Opus comments: by their own names
  MetaFlac,    // FLAC's Vorbis comments
  VorbisBytes,  // Ogg Vorbis: the comment header's length-prefixed NAME=value fields
  None,        // a format without loudness tags
};

struct TTagCase {
  const char* Name;
  const char* Profile;
  const char* Extension;
  TReader Reader;
  bool Opus;
};

const TTagCase kTagCases[] = {
    {"Mp3", "mp3", "mp3", TReader::MediaInfo, false},
    {"Aac", "AAC", "m4a", TReader::MediaInfo, false},
    {"Alac", "ALAC", "m4a", TReader::MediaInfo, false},
    {"Ringtone", "M4R", "m4r", TReader::MediaInfo, false},
    {"Vorbis", "ogg", "ogg", TReader::VorbisBytes, false},
    {"Opus", "opus", "opus", TReader::MediaInfo, true},
    {"Flac", "flac", "flac", TReader::MetaFlac, false},
    {"Aiff", "aiff", "aiff", TReader::MediaInfo, false},
    {"Wma", "wma", "wma", TReader::MediaInfo, false},
    {"Wav", "wav", "wav", TReader::None, false},
    {"Ac3", "ac3", "ac3", TReader::None, false},
    {"Mp2", "mp2", "mp2", TReader::None, false},
};

std::string Upper(std::string AText) {
  for (char& c : AText) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return AText;
}

std::string Capture(const std::string& ACommand, const std::string& ADir) {
  const std::string file = ADir + "/capture.txt";
  EXPECT_EQ(test::Run(ACommand + " >" + Quote(file) + " 2>&1"), 0) << ACommand;
  return test::TextOf(file);
}

std::string Trim(const std::string& AText) {
  const size_t a = AText.find_first_not_of(" \t\r");
  const size_t b = AText.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : AText.substr(a, b - a + 1);
}

// The loudness tags of AFile by upper-case name.
std::map<std::string, std::string> ReadTags(const std::string& AFile, TReader AReader, const std::string& ADir) {
  std::map<std::string, std::string> tags;
  const auto wanted = [](const std::string& AName) {
    const std::string n = Upper(AName);
    return n.rfind("REPLAYGAIN_", 0) == 0 || n.rfind("R128_", 0) == 0;
  };
  if (AReader == TReader::MediaInfo || AReader == TReader::None) {
    std::istringstream lines(Capture("mediainfo " + Quote(AFile), ADir));
    for (std::string line; std::getline(lines, line);) {
      const size_t colon = line.find(" : ");
      if (colon == std::string::npos) continue;
      const std::string name = Trim(line.substr(0, colon));
      if (wanted(name)) tags[Upper(name)] = Trim(line.substr(colon + 3));
    }
  } else if (AReader == TReader::MetaFlac) {
    std::istringstream lines(Capture("metaflac --export-tags-to=- " + Quote(AFile), ADir));
    for (std::string line; std::getline(lines, line);) {
      const size_t eq = line.find('=');
      if (eq != std::string::npos && wanted(line.substr(0, eq))) tags[Upper(line.substr(0, eq))] = line.substr(eq + 1);
    }
  } else {
    // Each comment is a 32-bit little-endian length and "NAME=value".
    const std::string bytes = test::TextOf(AFile);
    for (size_t at = bytes.find('='); at != std::string::npos; at = bytes.find('=', at + 1)) {
      size_t start = at;
      while (start > 0 && std::isalnum(static_cast<unsigned char>(bytes[start - 1])) != 0) --start;
      while (start > 0 && bytes[start - 1] == '_') {
        --start;
        while (start > 0 && std::isalnum(static_cast<unsigned char>(bytes[start - 1])) != 0) --start;
      }
      if (start < 4 || !wanted(bytes.substr(start, at - start))) continue;
      const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + start - 4);
      const uint32_t length = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
      if (start + length > bytes.size() || length <= at - start) continue;
      tags[Upper(bytes.substr(start, at - start))] = bytes.substr(at + 1, start + length - at - 1);
    }
  }
  return tags;
}

// "+2.64 dB" (or mediainfo's "2.64 dB") as a number.
double Gain(const std::string& AText) { return std::strtod(AText.c_str(), nullptr); }

TLoudness Measure(const std::string& AFile) {
  const TLoudnessAnalysis a = AnalyseLoudness(AFile);
  EXPECT_TRUE(a.Meter) << AFile << ": " << a.Error;
  return a.Meter ? a.Meter->Result() : TLoudness{};
}

// Two files of one folder, 15 LU apart: the quiet one falls under the
// album's relative gate, so the merged figure lies far from the mean. At
// 48 kHz, a rate every profile keeps: the tags tell what was encoded, and
// a resampler's low-pass near 22 kHz would move that by some 0.02 LU from
// the source's figure.
void MakeAlbum(const std::string& ADir) {
  std::filesystem::create_directories(ADir + "/album");
  ASSERT_EQ(test::Run("sox -n -r 48000 -c 2 -b 16 " + Quote(ADir + "/album/loud.wav") + " synth 8 pinknoise gain -10"), 0);
  ASSERT_EQ(test::Run("sox -n -r 48000 -c 2 -b 16 " + Quote(ADir + "/album/quiet.wav") + " synth 8 pinknoise gain -25"),
            0);
}

class CliLoudnessTagsTest : public ::testing::TestWithParam<TTagCase> {};

TEST_P(CliLoudnessTagsTest, WritesTrackAndAlbumTagsInTheFormatsOwnSystem) {
  const TTagCase& c = GetParam();
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  const std::string dir = test::ScratchDir();
  MakeAlbum(dir);
  const test::TCliRun run = test::RunConvert(
      dir, {"-p", c.Profile, "--samplerate", "original", "-o", "out", "--loudness", "tags", "--album", "album/loud.wav",
            "album/quiet.wav"});
  ASSERT_EQ(run.Status, 0) << run.Out << run.Err;

  const TLoudness loud = Measure(dir + "/album/loud.wav"), quiet = Measure(dir + "/album/quiet.wav");
  const TLoudnessAnalysis a = AnalyseLoudness(dir + "/album/loud.wav"), b = AnalyseLoudness(dir + "/album/quiet.wav");
  ASSERT_TRUE(a.Meter && b.Meter);
  const TLoudness merged = TLoudnessMeter::Album({a.Meter.get(), b.Meter.get()});
  // The case means something only when the mean misses the album figure.
  ASSERT_GT(std::fabs((loud.Integrated + quiet.Integrated) / 2 - merged.Integrated), 0.5);

  std::string albumGain;
  for (const auto& [name, source] : {std::pair{"loud", loud}, std::pair{"quiet", quiet}}) {
    const std::string output = dir + "/out/" + name + "." + c.Extension;
    ASSERT_TRUE(std::filesystem::exists(output)) << run.Out;
    // The tagged file still decodes whole (the lossy encoders' low-pass
    // takes some of the noise's top octave: about half a LU).
    const TLoudness decoded = Measure(output);
    EXPECT_NEAR(decoded.Integrated, source.Integrated, 1.5) << name;
    const auto tags = ReadTags(output, c.Reader, dir);
    SCOPED_TRACE(std::string(name) + " " + output);
    if (c.Reader == TReader::None) {
      EXPECT_TRUE(tags.empty());
      continue;
    }
    if (c.Opus) {
      // Q7.8 towards -23 LUFS; 0.01 dB is 2.56 steps.
      ASSERT_TRUE(tags.count("R128_TRACK_GAIN") && tags.count("R128_ALBUM_GAIN")) << testing::PrintToString(tags);
      EXPECT_EQ(tags.count("REPLAYGAIN_TRACK_GAIN"), 0u);
      EXPECT_NEAR(std::stoi(tags.at("R128_TRACK_GAIN")), (-23 - source.Integrated) * 256, 2.56 + 0.5);
      EXPECT_NEAR(std::stoi(tags.at("R128_ALBUM_GAIN")), (-23 - merged.Integrated) * 256, 2.56 + 0.5);
      if (albumGain.empty()) albumGain = tags.at("R128_ALBUM_GAIN");
      EXPECT_EQ(tags.at("R128_ALBUM_GAIN"), albumGain);
      continue;
    }
    for (const char* key : {"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK", "REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK"})
      ASSERT_TRUE(tags.count(key)) << key << " in " << testing::PrintToString(tags);
    // Written as "+N.NN dB" (mediainfo may drop the sign of a positive gain).
    EXPECT_NE(tags.at("REPLAYGAIN_TRACK_GAIN").find(" dB"), std::string::npos);
    EXPECT_NEAR(Gain(tags.at("REPLAYGAIN_TRACK_GAIN")), -18 - source.Integrated, 0.01 + 0.005);
    EXPECT_NEAR(Gain(tags.at("REPLAYGAIN_ALBUM_GAIN")), -18 - merged.Integrated, 0.01 + 0.005);
    EXPECT_NEAR(std::strtod(tags.at("REPLAYGAIN_TRACK_PEAK").c_str(), nullptr), std::pow(10, source.TruePeak / 20), 0.05);
    if (albumGain.empty()) albumGain = tags.at("REPLAYGAIN_ALBUM_GAIN");
    EXPECT_EQ(tags.at("REPLAYGAIN_ALBUM_GAIN"), albumGain);
  }
}

INSTANTIATE_TEST_SUITE_P(Profiles, CliLoudnessTagsTest, ::testing::ValuesIn(kTagCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// Without --album each output has its track's tags only; with --merge the
// joined file is one track, measured whole.
TEST(CliLoudnessTags, TrackTagsAloneAndTheJoinedFileAsOneTrack) {
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  const std::string dir = test::ScratchDir();
  MakeAlbum(dir);
  const test::TCliRun run =
      test::RunConvert(dir, {"-p", "mp3", "-o", "single", "--loudness", "tags", "album/loud.wav", "album/quiet.wav"});
  ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
  for (const char* name : {"loud", "quiet"}) {
    const auto tags = ReadTags(dir + "/single/" + name + ".mp3", TReader::MediaInfo, dir);
    EXPECT_TRUE(tags.count("REPLAYGAIN_TRACK_GAIN")) << name;
    EXPECT_FALSE(tags.count("REPLAYGAIN_ALBUM_GAIN")) << name;
  }

  const test::TCliRun joined = test::RunConvert(dir, {"-p", "flac", "-o", "joined", "--merge", "--album", "--loudness",
                                                      "tags", "album/loud.wav", "album/quiet.wav"});
  ASSERT_EQ(joined.Status, 0) << joined.Out << joined.Err;
  std::string output;
  for (const auto& e : std::filesystem::directory_iterator(dir + "/joined")) output = e.path().string();
  ASSERT_FALSE(output.empty());
  const auto tags = ReadTags(output, TReader::MetaFlac, dir);
  ASSERT_TRUE(tags.count("REPLAYGAIN_TRACK_GAIN")) << testing::PrintToString(tags);
  EXPECT_FALSE(tags.count("REPLAYGAIN_ALBUM_GAIN"));
  EXPECT_NEAR(Gain(tags.at("REPLAYGAIN_TRACK_GAIN")), -18 - Measure(output).Integrated, 0.015);
}

// The tags go in by copying the packets into a new file: the MP3 encoder
// delay and padding (LAME header) and Opus's pre-skip must come through, so
// a tagged output decodes to exactly as many samples as an untagged one and
// as its source.
TEST(CliLoudnessTags, TaggedOutputsKeepTheirGaplessLength) {
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  const std::string dir = test::ScratchDir();
  ASSERT_EQ(test::Run("sox -n -r 48000 -c 2 -b 16 " + Quote(dir + "/tone.wav") + " synth 3.3 sine 440 gain -12"), 0);
  const int64_t source = AnalyseLoudness(dir + "/tone.wav").Meter->Frames();
  for (const char* profile : {"mp3", "opus", "flac"}) {
    SCOPED_TRACE(profile);
    ASSERT_EQ(test::RunConvert(dir, {"-p", profile, "--samplerate", "48000", "-o", "plain", "tone.wav"}).Status, 0);
    ASSERT_EQ(test::RunConvert(dir, {"-p", profile, "--samplerate", "48000", "-o", "tagged", "--loudness", "tags",
                                     "tone.wav"})
                  .Status,
              0);
    const TLoudnessAnalysis plain = AnalyseLoudness(dir + "/plain/tone." + profile);
    const TLoudnessAnalysis tagged = AnalyseLoudness(dir + "/tagged/tone." + profile);
    ASSERT_TRUE(plain.Meter && tagged.Meter);
    EXPECT_EQ(tagged.Meter->Frames(), plain.Meter->Frames());
    EXPECT_EQ(tagged.Meter->Frames(), source);
  }
}

}  // namespace
}  // namespace quorvel
