// The video benchmark's input, made by the project's engine: 60 s of
// 1280x720 at 25 pictures per second (moving bars and a moving box, so the
// decoder has real work) with a tone, as H.264 in Matroska. The pictures
// reach the engine through a named pipe, so no raw video is written out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLoad.h"

namespace quorvel::bench {

bool MakeVideoBenchFile(const std::string& ADir, const std::string& AOutput, int ASeconds) {
  if (!FFLoader().Load(kEncoderLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
    return false;
  }
  const std::string tone = ADir + "/bench-tone.wav";
  if (std::system(("sox -D -n -r 48000 -c 2 -b 16 '" + tone + "' synth " + std::to_string(ASeconds) +
                   " sine 220-880 vol 0.4 2>/dev/null")
                      .c_str()) != 0)
    return false;
  const std::string pipe = ADir + "/bench-pictures.y4m";
  ::unlink(pipe.c_str());
  if (::mkfifo(pipe.c_str(), 0600) != 0) return false;
  const int w = 1280, h = 720, frames = ASeconds * 25;
  std::thread writer([&] {
    std::ofstream out(pipe, std::ios::binary);
    out << "YUV4MPEG2 W" << w << " H" << h << " F25:1 Ip A1:1 C420jpeg\n";
    std::vector<uint8_t> y(static_cast<size_t>(w) * h), uv(static_cast<size_t>(w / 2) * (h / 2));
    for (int f = 0; f < frames && out; ++f) {
      for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col) y[row * w + col] = static_cast<uint8_t>(16 + ((col + 4 * f) / 8 + row / 16) % 200);
      const int bx = (f * 7) % (w - 200), by = (f * 3) % (h - 200);
      for (int row = by; row < by + 200; ++row)
        for (int col = bx; col < bx + 200; ++col) y[row * w + col] = 235;
      out << "FRAME\n";
      out.write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(y.size()));
      for (int plane = 0; plane < 2; ++plane) {
        for (size_t i = 0; i < uv.size(); ++i) uv[i] = static_cast<uint8_t>(64 + ((i + f * (plane + 1)) % 128));
        out.write(reinterpret_cast<const char*>(uv.data()), static_cast<std::streamsize>(uv.size()));
      }
    }
  });
  TCustomFFmpeg job(2);
  bool ok = job.open_input_file(pipe) && job.open_input_file(tone);
  if (ok) {
    job.SetExtOption("vcodec", "libx264");
    job.SetExtOption("b", "3000k");
    job.SetExtOption("g", "50");
    job.SetExtOption("acodec", "pcm_s16le");
    ok = job.open_output_file(AOutput, false) == 1;
  }
  if (ok) {
    job.StartConvert(false);
    ok = !job.FatalException();
  }
  if (!ok) {
    std::fprintf(stderr, "making the input failed: %s %s\n", job.LastErrMsg().c_str(), job.FatalMessage().c_str());
    // Release a writer still waiting for a reader (SIGPIPE is ignored).
    const int fd = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }
  writer.join();
  ::unlink(pipe.c_str());
  ::unlink(tone.c_str());
  return ok;
}

}  // namespace quorvel::bench
