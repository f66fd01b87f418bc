// What a careful listener checks in quorvel-convert's outputs: every shipped
// profile on sources of several rates, depths and layouts, with the
// profile's own defaults and with "original", each output decoded back and
// compared with its source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/Stubs.h"
#include "CliTestSupport.h"
#include "support/DecodeBack.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::TDecodedAudio;

using test::Quote;
using test::TextOf;
using TRun = test::TCliRun;

TRun Convert(const std::string& ADir, const std::vector<std::string>& AArgs) { return test::RunConvert(ADir, AArgs); }

// A test input made with sox; fails the test when sox cannot.
std::string Sox(const std::string& ADir, const std::string& AName, const std::string& AArgs) {
  const std::string path = ADir + "/" + AName;
  const std::string cmd = "sox -n " + AArgs.substr(0, AArgs.find('|')) + " " + Quote(path) + " " +
                          AArgs.substr(AArgs.find('|') + 1) + " 2>/dev/null";
  EXPECT_EQ(test::Run(cmd), 0) << cmd;
  return path;
}

// A layout by name; a file that tells only the count (a WAV without a
// channel mask) means the usual layout for that count.
std::string LayoutOf(const TDecodedAudio& A) {
  if (A.Layout != std::to_string(A.Channels) + " channels") return A.Layout;
  AVChannelLayout layout{};
  avutil.av_channel_layout_default(&layout, A.Channels);
  char text[64] = {};
  avutil.av_channel_layout_describe(&layout, text, sizeof(text));
  avutil.av_channel_layout_uninit(&layout);
  return text;
}

// The depth a decoded stream keeps.
int DepthOf(const TDecodedAudio& A) {
  return A.BitsPerRawSample > 0 ? A.BitsPerRawSample : avutil.av_get_bytes_per_sample(A.SampleFormat) * 8;
}

// One shipped profile and what its encoder can take.
struct TProfileCase {
  const char* Profile;  // --profile
  const char* Ext;
  std::vector<int> Rates;  // in the encoder's order; empty: any rate
  int MaxRate;             // 0: no limit
  int MaxChannels;
  bool Lossless;
  int DecodedRate;  // 0: as written (Opus always decodes at 48 kHz)
  const char* Layout51 = nullptr;  // the only 5.1 layout the format has; null: the source's
};

const TProfileCase kProfiles[] = {
    {"mp3", ".mp3", {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000}, 0, 2, false, 0},
    {"AAC", ".m4a", {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350}, 0, 8, false, 0},
    {"ogg", ".ogg", {}, 0, 8, false, 0},
    {"opus", ".opus", {48000, 24000, 16000, 12000, 8000}, 0, 8, false, 48000},
    {"flac", ".flac", {}, 0, 8, true, 0},
    {"ALAC", ".m4a", {}, 0, 8, true, 0, "5.1"},
    {"wav", ".wav", {}, 0, 8, true, 0},
    {"aiff", ".aiff", {}, 0, 8, true, 0},
    {"wma", ".wma", {}, 48000, 2, false, 0},
    {"ac3", ".ac3", {48000, 44100, 32000}, 0, 6, false, 0},
    {"mp2", ".mp2", {44100, 48000, 32000, 22050, 24000, 16000}, 0, 2, false, 0},
    {"m4r", ".m4r", {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350}, 0, 8, false, 0},
};

int NearestRate(const TProfileCase& AProfile, int ARate) {
  int best = ARate;
  if (!AProfile.Rates.empty()) {
    best = AProfile.Rates[0];
    for (const int r : AProfile.Rates)
      if (std::abs(r - ARate) < std::abs(best - ARate)) best = r;
  }
  if (AProfile.MaxRate > 0) best = std::min(best, AProfile.MaxRate);
  return best;
}

class CliQualityTest : public ::testing::TestWithParam<TProfileCase> {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
    dir = test::ScratchDir();
    out = dir + "/out";
    fs::create_directory(out);
  }
  std::string dir, out;
};

// With "original", every output keeps the source's rate, layout and (for a
// lossless profile) depth, or takes the nearest its encoder can write, and
// says so; a lossless output decodes to the source's very samples.
TEST_P(CliQualityTest, OriginalKeepsTheSourceOrTheNearestTheEncoderTakes) {
  const TProfileCase& p = GetParam();
  struct TSource {
    std::string Path;
    bool Lossless;
  };
  const std::vector<TSource> sources = {
      {Sox(dir, "hi96k24.flac", "-r 96000 -b 24 -c 2|synth 1 sine 440 sine 554 gain -6"), true},
      {Sox(dir, "surround51.flac", "-r 48000 -b 16 -c 6|synth 1 sine 200 sine 300 sine 400 sine 50 sine 600 sine 700 gain -9"),
       true},
      {Sox(dir, "low22k.wav", "-r 22050 -b 16 -c 1|synth 1 sine 440 gain -6"), true},
      {test::SharedMedia("libpython3.11-testsuite__pluck-pcm24.wav"), true},
      {test::SharedMedia("lmms-common__lfo_trancegate_whole.flac"), true},
      {test::SharedMedia("sonic-pi-samples__loop_tabla.flac"), true},
      {test::SharedMedia("emacspeak__emacspeak.mp3"), false},
  };
  std::vector<std::string> args = {"--profile", p.Profile, "--samplerate", "original", "--channels", "original",
                                   "--jobs", "2", "-o", "out"};
  for (const TSource& s : sources) args.push_back(s.Path);
  const TRun r = Convert(dir, args);
  ASSERT_EQ(r.Status, 0) << r.Out << r.Err;

  for (const TSource& s : sources) {
    const std::string name = fs::path(s.Path).stem().string();
    SCOPED_TRACE(name + p.Ext);
    const TDecodedAudio src = test::DecodeAudio(s.Path, true);
    ASSERT_TRUE(src.Ok) << src.Error;
    const TDecodedAudio o = test::DecodeAudio(out + "/" + name + p.Ext, true);
    ASSERT_TRUE(o.Ok) << o.Error;

    const int rate = NearestRate(p, src.SampleRate);
    EXPECT_EQ(o.SampleRate, p.DecodedRate ? p.DecodedRate : rate);
    if (rate != src.SampleRate) {
      EXPECT_NE(r.Out.find("note: " + s.Path + ": "), std::string::npos) << r.Out;
      EXPECT_NE(r.Out.find(std::to_string(src.SampleRate) + " Hz: " + std::to_string(rate) + " Hz used"),
                std::string::npos)
          << r.Out;
    }
    if (src.Channels <= p.MaxChannels) {
      EXPECT_EQ(o.Channels, src.Channels);
      if (p.Lossless) {
        EXPECT_EQ(LayoutOf(o), src.Channels == 6 && p.Layout51 ? p.Layout51 : LayoutOf(src));
      }
    } else {
      EXPECT_EQ(o.Channels, 2);
      EXPECT_NE(r.Out.find("folded down to stereo"), std::string::npos) << r.Out;
    }
    EXPECT_NEAR(o.Seconds, src.Seconds, 0.1);
    if (!p.Lossless) continue;
    // The source's depth, 16 or 24 bits.
    EXPECT_EQ(DepthOf(o), s.Lossless && DepthOf(src) > 16 ? 24 : 16);
    if (!s.Lossless) continue;
    EXPECT_EQ(o.SampleFormat, src.SampleFormat);
    EXPECT_EQ(o.Samples, src.Samples);
    EXPECT_TRUE(o.Raw == src.Raw) << "the decoded samples differ from the source's";
  }
}

// Folded down to stereo or mono, a sound on the front pair keeps the level it
// has in a plain stereo file (the library's own fold-down is several dB
// quieter); the lossless profiles keep 5.1 by default.
TEST(CliFoldDownTest, KeepsTheLevelOfTheFrontPair) {
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  const std::string dir = test::ScratchDir();
  fs::create_directory(dir + "/out");
  const std::string front = Sox(dir, "front.flac", "-r 48000 -b 16 -c 6|synth 1 sine 440 gain -8 remix 1 1 0 0 0 0");
  const std::string stereo = Sox(dir, "stereo.wav", "-r 48000 -b 16 -c 2|synth 1 sine 440 gain -8");
  const TDecodedAudio reference = test::DecodeAudio(stereo);
  ASSERT_TRUE(reference.Ok) << reference.Error;
  const struct {
    std::vector<std::string> Args;
    const char* File;
    int Channels;
  } cases[] = {
      {{"-p", "mp3"}, "front.mp3", 2},
      {{"-p", "mp3", "--channels", "mono"}, "front.mp3", 1},
      {{"-p", "wav", "--channels", "stereo"}, "front.wav", 2},
      {{"-p", "wma", "--channels", "original"}, "front.wma", 2},
      {{"-p", "flac"}, "front.flac", 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    fs::remove_all(dir + "/out");
    fs::create_directory(dir + "/out");
    std::vector<std::string> args = c.Args;
    args.insert(args.end(), {"-o", "out", front});
    const TRun r = Convert(dir, args);
    ASSERT_EQ(r.Status, 0) << r.Out << r.Err;
    const TDecodedAudio o = test::DecodeAudio(dir + "/out/" + c.File);
    ASSERT_TRUE(o.Ok) << o.Error;
    EXPECT_EQ(o.Channels, c.Channels);
    if (c.Channels <= 2) {
      EXPECT_NEAR(o.RmsDb(), reference.RmsDb(), 0.5);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryProfile, CliQualityTest, ::testing::ValuesIn(kProfiles),
                         [](const ::testing::TestParamInfo<TProfileCase>& AInfo) {
                           std::string name = std::string(AInfo.param.Profile) + AInfo.param.Ext;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// --- tags and cover art, read back with mediainfo -------------------------

// The general section of mediainfo's full report: each field's first value.
std::map<std::string, std::string> MediaInfo(const std::string& ADir, const std::string& AFile) {
  const std::string report = ADir + "/mediainfo.txt";
  EXPECT_EQ(test::Run("mediainfo --Full --Cover_Data=base64 " + Quote(AFile) + " >" + Quote(report)), 0);
  std::map<std::string, std::string> fields;
  std::istringstream in(TextOf(report));
  std::string line;
  bool general = false;
  while (std::getline(in, line)) {
    if (line == "General") general = true;
    if (line.empty() && general) break;
    const size_t colon = line.find(" : ");
    if (!general || colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    name.erase(name.find_last_not_of(' ') + 1);
    fields.emplace(name, line.substr(colon + 3));
  }
  return fields;
}

std::string Base64Decoded(const std::string& AText) {
  std::vector<uint8_t> bytes(AText.size());
  const int n = avutil.av_base64_decode(bytes.data(), AText.c_str(), static_cast<int>(bytes.size()));
  return n > 0 ? std::string(bytes.begin(), bytes.begin() + n) : std::string();
}

enum class TCoverKind { None, Picture, PictureBlock };

struct TTagCase {
  const char* Profile;
  const char* Ext;
  // mediainfo's names of the tags as the format keeps them, with the values
  // the source gave.
  std::vector<std::pair<const char*, const char*>> Fields;
  TCoverKind Cover;
};

// The usual tags as mediainfo names them in ID3v2, MP4 and Vorbis comments.
std::vector<std::pair<const char*, const char*>> Usual(const char* AComment, const char* ADisc) {
  return {{"Track name", "Song Title"},     {"Performer", "The Artist"},     {"Album", "The Album"},
          {"Album/Performer", "Album Artist"}, {"Track name/Position", "3"}, {"Track name/Total", "12"},
          {ADisc, "1"},                     {"Part/Total", "2"},             {"Recorded date", "2021"},
          {"Genre", "Jazz"},                {AComment, "A comment"},         {"Composer", "The Composer"}};
}

const TTagCase kTagCases[] = {
    {"mp3", ".mp3", Usual("comment", "Part/Position"), TCoverKind::Picture},
    {"AAC", ".m4a", Usual("Comment", "Part/Position"), TCoverKind::Picture},
    {"ogg", ".ogg", Usual("Description", "Part"), TCoverKind::PictureBlock},
    {"opus", ".opus", Usual("Description", "Part"), TCoverKind::PictureBlock},
    {"flac", ".flac", Usual("Description", "Part"), TCoverKind::Picture},
    {"ALAC", ".m4a", Usual("Comment", "Part/Position"), TCoverKind::Picture},
    // RIFF INFO has no album artist, disc or composer; mediainfo calls the
    // artist (IART) "Director" and the album (IPRD) the original source.
    {"wav", ".wav",
     {{"Track name", "Song Title"}, {"Director", "The Artist"}, {"Original source form/Name", "The Album"},
      {"ITRK", "3/12"}, {"Recorded date", "2021"}, {"Genre", "Jazz"}, {"Comment", "A comment"}},
     TCoverKind::None},
    {"aiff", ".aiff", Usual("Comment", "Part/Position"), TCoverKind::Picture},
    // mediainfo files ASF's album artist as the performer and its author as
    // the accompaniment; the muxer writes no picture.
    {"wma", ".wma",
     {{"Track name", "Song Title"}, {"Accompaniment", "The Artist"}, {"Album", "The Album"},
      {"Performer", "Album Artist"}, {"Track name/Position", "3"}, {"WM/PartOfSet", "1/2"},
      {"Recorded date", "2021"}, {"Genre", "Jazz"}, {"Description", "A comment"}, {"Composer", "The Composer"}},
     TCoverKind::None},
    // Raw AC-3 and layer II streams have no tags.
    {"ac3", ".ac3", {}, TCoverKind::None},
    {"mp2", ".mp2", {}, TCoverKind::None},
    {"m4r", ".m4r", Usual("Comment", "Part/Position"), TCoverKind::Picture},
};

class CliTagTest : public ::testing::TestWithParam<TTagCase> {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
    dir = test::ScratchDir();
    fs::create_directory(dir + "/out");
    // A small PNG (2 x 2 red pixels) as the cover.
    cover = dir + "/cover.png";
    static const unsigned char kPng[] = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
        0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd, 0xd4, 0x9a, 0x73, 0x00, 0x00, 0x00,
        0x10, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0x00, 0x44, 0x0c, 0x10, 0x0a, 0x00, 0x1f,
        0xee, 0x03, 0xfd, 0x8b, 0x5f, 0x14, 0xd4, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60,
        0x82};
    std::ofstream(cover, std::ios::binary).write(reinterpret_cast<const char*>(kPng), sizeof(kPng));
    coverBytes = TextOf(cover);
    // Every tag, and the cover as a FLAC picture block.
    flac = Sox(dir, "tagged.flac", "-r 44100 -b 16 -c 2|synth 1 sine 440 gain -6");
    std::string tags;
    for (const char* t : {"TITLE=Song Title", "ARTIST=The Artist", "ALBUM=The Album", "ALBUMARTIST=Album Artist",
                          "TRACKNUMBER=3", "TRACKTOTAL=12", "DISCNUMBER=1", "DISCTOTAL=2", "DATE=2021",
                          "GENRE=Jazz", "COMMENT=A comment", "COMPOSER=The Composer"})
      tags += " --set-tag=" + Quote(t);
    ASSERT_EQ(test::Run("metaflac --remove-all-tags" + tags + " --import-picture-from=" + Quote(cover) + " " +
                        Quote(flac)),
              0);
    // The same as an MP3 with an APIC frame, made by lame.
    const std::string wav = Sox(dir, "plain.wav", "-r 44100 -b 16 -c 2|synth 1 sine 440 gain -6");
    mp3 = dir + "/tagged.mp3";
    ASSERT_EQ(test::Run("lame --quiet --id3v2-only --id3v2-latin1 --tt 'Song Title' --ta 'The Artist' --tl 'The Album' --tn 3/12 "
                        "--ty 2021 --tg Jazz --tc 'A comment' --tv 'TPE2=Album Artist' --tv TPOS=1/2 "
                        "--tv 'TCOM=The Composer' --ti " +
                        Quote(cover) + " " + Quote(wav) + " " + Quote(mp3)),
              0);
    // And as an M4A with a "covr" atom, made by the program from the FLAC.
    const TRun r = Convert(dir, {"-p", "AAC", "-o", "out", flac});
    ASSERT_EQ(r.Status, 0) << r.Out << r.Err;
    m4a = dir + "/tagged.m4a";
    fs::rename(dir + "/out/tagged.m4a", m4a);
  }
  std::string dir, cover, coverBytes, flac, mp3, m4a;
};

// Every profile from sources that keep their tags and cover in FLAC
// comments and a picture block, ID3v2 with an APIC frame and MP4 atoms with
// "covr": each output keeps every tag its format has room for, under the
// names its readers know, and the very cover picture.
TEST_P(CliTagTest, EveryTagAndTheCoverInTheFormatsOwnSystem) {
  const TTagCase& c = GetParam();
  for (const std::string& source : {flac, mp3, m4a}) {
    SCOPED_TRACE(source);
    fs::remove_all(dir + "/out");
    fs::create_directory(dir + "/out");
    const TRun r = Convert(dir, {"-p", c.Profile, "-o", "out", source});
    ASSERT_EQ(r.Status, 0) << r.Out << r.Err;
    const std::string output = dir + "/out/" + fs::path(source).stem().string() + c.Ext;
    // The picture is never a video stream of the output.
    const TDecodedAudio d = test::DecodeAudio(output);
    ASSERT_TRUE(d.Ok) << d.Error;
    EXPECT_NEAR(d.Seconds, 1.0, 0.1);
    const std::map<std::string, std::string> info = MediaInfo(dir, output);
    for (const auto& [name, value] : c.Fields) {
      const auto found = info.find(name);
      if (found == info.end())
        ADD_FAILURE() << name << " missing";
      else
        EXPECT_EQ(found->second, value) << name;
    }
    const auto data = info.find("Cover_Data");
    switch (c.Cover) {
      case TCoverKind::None:
        EXPECT_EQ(data, info.end());
        break;
      case TCoverKind::Picture:
        ASSERT_NE(data, info.end());
        EXPECT_TRUE(Base64Decoded(data->second) == coverBytes) << "the picture differs from the source's";
        break;
      case TCoverKind::PictureBlock: {
        // mediainfo gives the whole FLAC picture block of the comment.
        ASSERT_NE(data, info.end());
        const std::string block = Base64Decoded(data->second);
        ASSERT_GT(block.size(), coverBytes.size());
        EXPECT_TRUE(block.compare(block.size() - coverBytes.size(), coverBytes.size(), coverBytes) == 0)
            << "the picture differs from the source's";
        EXPECT_NE(block.find("image/png"), std::string::npos);
        break;
      }
    }
    if (c.Cover != TCoverKind::None) {
      EXPECT_EQ(info.count("Cover"), 1u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryProfile, CliTagTest, ::testing::ValuesIn(kTagCases),
                         [](const ::testing::TestParamInfo<TTagCase>& AInfo) {
                           std::string name = std::string(AInfo.param.Profile) + AInfo.param.Ext;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace quorvel
