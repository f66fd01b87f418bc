#include "media/decoder/StatedLength.h"

#include <cstring>
#include <fstream>

namespace quorvel {

namespace {

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

int64_t StatedLength(const std::string& AFileName) {
  std::ifstream in(AFileName, std::ios::binary);
  unsigned char head[12];
  if (!in.read(reinterpret_cast<char*>(head), sizeof(head))) return 0;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return 0;
  uint32_t byteRate = 0;
  // The chunks before the data are few and small; a damaged header must not
  // keep this reading a large file chunk by chunk.
  for (int chunk = 0; chunk < 64; ++chunk) {
    unsigned char header[8];
    if (!in.read(reinterpret_cast<char*>(header), sizeof(header))) return 0;
    const uint32_t size = Le32(header + 4);
    if (std::memcmp(header, "fmt ", 4) == 0) {
      unsigned char format[16];
      if (size < sizeof(format) || !in.read(reinterpret_cast<char*>(format), sizeof(format))) return 0;
      byteRate = Le32(format + 8);
      in.seekg(static_cast<std::streamoff>(size - sizeof(format) + (size & 1)), std::ios::cur);
      continue;
    }
    if (std::memcmp(header, "data", 4) == 0) {
      // 0 and 0xFFFFFFFF: written while streaming, or RF64's placeholder.
      if (byteRate == 0 || size == 0 || size == 0xFFFFFFFFu) return 0;
      return static_cast<int64_t>(size) * 1000000 / byteRate;
    }
    // Chunks are padded to an even size.
    in.seekg(static_cast<std::streamoff>(size) + (size & 1), std::ios::cur);
  }
  return 0;
}

}  // namespace quorvel
