// The video benchmark's input, made by the project's engine: 60 s of
// 1280x720 at 25 pictures per second (moving bars and a moving box, so the
// decoder has real work) with a tone, as H.264 in Matroska.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLoad.h"

namespace quorvel::bench {

bool MakeVideoBenchFile(const std::string& ADir, const std::string& AOutput, int ASeconds, const std::string& ASize) {
  if (!FFLoader().Load(kEncoderLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
    return false;
  }
  const std::string tone = ADir + "/bench-tone.wav";
  if (std::system(("sox -D -n -r 48000 -c 2 -b 16 '" + tone + "' synth " + std::to_string(ASeconds) +
                   " sine 220-880 vol 0.4 2>/dev/null")
                      .c_str()) != 0)
    return false;
  // The pictures are written small (a quarter of the size each way) and
  // scaled up by the engine: 60 s of raw 720p would take 2 GB.
  const std::string pictures = ADir + "/bench-pictures.y4m";
  const int w = 320, h = 180, frames = ASeconds * 25;
  {
    std::ofstream out(pictures, std::ios::binary);
    out << "YUV4MPEG2 W" << w << " H" << h << " F25:1 Ip A1:1 C420jpeg\n";
    std::vector<uint8_t> y(static_cast<size_t>(w) * h), uv(static_cast<size_t>(w / 2) * (h / 2));
    for (int f = 0; f < frames && out; ++f) {
      for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) y[row * w + col] = static_cast<uint8_t>(16 + ((col + f) / 2 + row / 4) % 200);
      const int bx = (f * 2) % (w - 50), by = f % (h - 50);
      for (int row = by; row < by + 50; ++row)
        for (int col = bx; col < bx + 50; ++col) y[row * w + col] = 235;
      out << "FRAME\n";
      out.write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(y.size()));
      for (int plane = 0; plane < 2; ++plane) {
        for (size_t i = 0; i < uv.size(); ++i) uv[i] = static_cast<uint8_t>(64 + ((i + f * (plane + 1)) % 128));
        out.write(reinterpret_cast<const char*>(uv.data()), static_cast<std::streamsize>(uv.size()));
      }
    }
  }
  TCustomFFmpeg job(2);
  bool ok = job.open_input_file(pictures) && job.open_input_file(tone);
  if (ok) {
    job.SetExtOption("vcodec", "libx264");
    job.SetExtOption("s", ASize);
    job.SetExtOption("r", "25");
    job.SetExtOption("b", "3000k");
    job.SetExtOption("g", "50");
    job.SetExtOption("acodec", "pcm_s16le");
    ok = job.open_output_file(AOutput, false) == 1;
  }
  if (ok) {
    job.StartConvert(false);
    ok = !job.FatalException();
  }
  if (!ok) std::fprintf(stderr, "making the input failed: %s %s\n", job.LastErrMsg().c_str(), job.FatalMessage().c_str());
  ::unlink(pictures.c_str());
  ::unlink(tone.c_str());
  return ok;
}

}  // namespace quorvel::bench
