// Video inputs of the player tests, made at test time: the test draws each
// picture, the pictures are written as a YUV4MPEG file, and a conversion
// job of the project's engine encodes them (with a tone when asked) into
// the file the player plays. Kept apart from the player's test support:
// the engine's and the player's headers each declare their own hook types.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorvel::test {

// One picture to draw: planar YUV 4:2:0 (chroma planes of (w+1)/2 x (h+1)/2).
struct TDrawnPicture {
  int Index;  // picture number from 0
  int Width, Height;
  uint8_t* Y;
  uint8_t* U;
  uint8_t* V;
  int ChromaWidth, ChromaHeight;
  // Fills a rectangle of the picture with one colour.
  void Fill(int AX, int AY, int AW, int AH, uint8_t AY_, uint8_t AU, uint8_t AV) const;
};
using TDrawPicture = std::function<void(const TDrawnPicture& APicture)>;

struct TVideoSpec {
  int Width = 640, Height = 360;
  int Frames = 100;  // at 25 pictures per second
  std::string SampleAspect = "1:1";
  std::string Codec = "libx264";  // any encoder the engine knows (ffv1 takes odd sizes)
  std::string Container = "mkv";
  // With a tone: its frequency (Hz) for each second, one after another.
  std::vector<int> ToneHz;
  std::string AudioCodec = "pcm_s16le";  // the tone's encoder (a transport stream takes "mp2")
};

// Writes ASpec's file at APath (without its extension) and returns its name.
std::string MakeVideoFile(const std::string& APath, const TVideoSpec& ASpec, const TDrawPicture& ADraw);

// One bitmap subtitle: a solid box of one colour (0xAARRGGBB) from StartMs
// to EndMs of the clip (EndMs 0: the subtitle gives no end).
struct TBoxSubtitle {
  int64_t StartMs, EndMs;
  int X, Y, Width, Height;
  uint32_t Colour;
};

// Copies every stream of AVideoFile into a Matroska file at APath and adds
// a DVD (bitmap) subtitle track of ASubtitles, encoded by the library's
// dvdsub encoder for pictures of AWidth x AHeight. Returns APath.
std::string AddBoxSubtitles(const std::string& AVideoFile, const std::string& APath, int AWidth, int AHeight,
                            const std::vector<TBoxSubtitle>& ASubtitles);

// The colours the solid-colour clips change through, one per second (YUV).
struct TSolidColour {
  uint8_t Y, U, V;
  uint8_t R, G, B;  // roughly what it shows as
};
const TSolidColour& SecondColour(int ASecond);
constexpr int kSecondColours = 4;

}  // namespace quorvel::test
