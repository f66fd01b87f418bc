#include "VideoFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/Format.h"
#include "support/TestPaths.h"

namespace quorvel::test {

void TDrawnPicture::Fill(int AX, int AY, int AW, int AH, uint8_t AY_, uint8_t AU, uint8_t AV) const {
  for (int y = std::max(AY, 0); y < std::min(AY + AH, Height); ++y)
    for (int x = std::max(AX, 0); x < std::min(AX + AW, Width); ++x) Y[y * Width + x] = AY_;
  for (int y = std::max(AY, 0) / 2; y < std::min((AY + AH + 1) / 2, ChromaHeight); ++y)
    for (int x = std::max(AX, 0) / 2; x < std::min((AX + AW + 1) / 2, ChromaWidth); ++x) {
      U[y * ChromaWidth + x] = AU;
      V[y * ChromaWidth + x] = AV;
    }
}

namespace {

std::string WriteY4M(const std::string& APath, const TVideoSpec& ASpec, const TDrawPicture& ADraw) {
  std::ofstream out(APath, std::ios::binary);
  out << "YUV4MPEG2 W" << ASpec.Width << " H" << ASpec.Height << " F25:1 Ip A" << ASpec.SampleAspect
      << " C420jpeg\n";
  const int cw = (ASpec.Width + 1) / 2, ch = (ASpec.Height + 1) / 2;
  std::vector<uint8_t> y(static_cast<size_t>(ASpec.Width) * ASpec.Height), u(static_cast<size_t>(cw) * ch),
      v(static_cast<size_t>(cw) * ch);
  for (int i = 0; i < ASpec.Frames; ++i) {
    std::fill(y.begin(), y.end(), 16);
    std::fill(u.begin(), u.end(), 128);
    std::fill(v.begin(), v.end(), 128);
    ADraw(TDrawnPicture{i, ASpec.Width, ASpec.Height, y.data(), u.data(), v.data(), cw, ch});
    out << "FRAME\n";
    out.write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(y.size()));
    out.write(reinterpret_cast<const char*>(u.data()), static_cast<std::streamsize>(u.size()));
    out.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
  }
  return APath;
}

std::string WriteTone(const std::string& APath, const std::vector<int>& AHz) {
  // One second of each frequency, one after another.
  std::string cmd = "sox -D -n -r 44100 -c 2 -b 16 '" + APath + "'";
  for (size_t i = 0; i < AHz.size(); ++i) cmd += (i ? " : synth 1 sine " : " synth 1 sine ") + std::to_string(AHz[i]) + " vol 0.5";
  cmd += " 2>&1";
  EXPECT_EQ(Run(cmd), 0) << cmd;
  return APath;
}

}  // namespace

std::string MakeVideoFile(const std::string& APath, const TVideoSpec& ASpec, const TDrawPicture& ADraw) {
  EXPECT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
  const std::string pictures = WriteY4M(APath + ".y4m", ASpec, ADraw);
  std::string tone;
  if (!ASpec.ToneHz.empty()) tone = WriteTone(APath + ".tone.wav", ASpec.ToneHz);
  const std::string output = APath + "." + ASpec.Container;
  TCustomFFmpeg job(2);
  EXPECT_TRUE(job.open_input_file(pictures)) << job.LastErrMsg();
  if (!tone.empty()) EXPECT_TRUE(job.open_input_file(tone)) << job.LastErrMsg();
  job.SetExtOption("vcodec", ASpec.Codec);
  job.SetExtOption("s", Format("%dx%d", ASpec.Width, ASpec.Height));
  job.SetExtOption("r", "25");
  if (ASpec.Codec == "libx264") {
    job.SetExtOption("b", "2000k");
    job.SetExtOption("g", "25");
  }
  if (!tone.empty()) job.SetExtOption("acodec", "pcm_s16le");
  // Without maps the output takes the pictures and the tone.
  EXPECT_EQ(job.open_output_file(output, false), 1) << job.LastErrMsg();
  job.StartConvert(false);
  EXPECT_FALSE(job.FatalException()) << job.FatalMessage();
  std::filesystem::remove(pictures);
  if (!tone.empty()) std::filesystem::remove(tone);
  return output;
}

const TSolidColour& SecondColour(int ASecond) {
  static const TSolidColour kColours[kSecondColours] = {
      {81, 90, 240, 255, 0, 0},     // red
      {145, 54, 34, 0, 255, 0},     // green
      {41, 240, 110, 0, 0, 255},    // blue
      {210, 16, 146, 255, 255, 0},  // yellow
  };
  return kColours[((ASecond % kSecondColours) + kSecondColours) % kSecondColours];
}

}  // namespace quorvel::test
