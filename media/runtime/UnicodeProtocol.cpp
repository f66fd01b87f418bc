#include "media/runtime/UnicodeProtocol.h"

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "media/runtime/Exception.h"
#include "media/runtime/Format.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

constexpr char kUTF8[] = "UTF-8";

// The I/O buffer of a custom I/O context; the library's own file contexts
// use the same size.
constexpr int kIOBufferSize = 32768;

struct TIconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using TIconvHandle = std::unique_ptr<void, TIconvCloser>;

// Converts AIn from charset AFrom to charset ATo. False when some character
// has no exact form in ATo, AIn is not valid AFrom text, or the conversion is
// not available: no substitutes, no transliteration, so that a false result
// never reaches a file name.
bool ConvertText(const std::string& AIn, const char* AFrom, const char* ATo, std::string& AOut) {
  AOut.clear();
  iconv_t raw = iconv_open(ATo, AFrom);
  if (raw == reinterpret_cast<iconv_t>(-1)) return false;
  TIconvHandle cd(raw);
  if (AIn.empty()) return true;

  std::string buffer(AIn.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(AIn.data());
  size_t inLeft = AIn.size();
  size_t used = 0;
  bool flushing = false;
  for (;;) {
    char* out = buffer.data() + used;
    size_t outLeft = buffer.size() - used;
    // The second phase writes the shift sequence a stateful charset may need
    // at the end of the text.
    size_t result = flushing ? iconv(raw, nullptr, nullptr, &out, &outLeft)
                             : iconv(raw, &in, &inLeft, &out, &outLeft);
    used = static_cast<size_t>(out - buffer.data());
    if (result == static_cast<size_t>(-1)) {
      if (errno != E2BIG) return false;
      buffer.resize(buffer.size() * 2);
      continue;
    }
    // A count of irreversible conversions means the text was changed.
    if (result != 0) return false;
    if (flushing) break;
    flushing = true;
  }
  buffer.resize(used);
  AOut = std::move(buffer);
  return true;
}

// The charset of narrow text: the calling thread's current C locale.
const char* NarrowCharset() {
  const char* codeset = nl_langinfo(CODESET);
  return (codeset && *codeset) ? codeset : "ANSI_X3.4-1968";
}

// UTF-8 to narrow text, exactly (the way back gives the same text).
bool ToNarrow(const std::string& AWide, std::string& ANarrow) {
  const char* charset = NarrowCharset();
  if (!ConvertText(AWide, kUTF8, charset, ANarrow)) return false;
  std::string back;
  return ConvertText(ANarrow, charset, kUTF8, back) && back == AWide;
}

bool IsLibraryURL(const std::string& AName) {
  const size_t colon = AName.find(':');
  if (colon == std::string::npos) return false;
  std::string scheme(1, ':');
  scheme.append(AName, 0, colon);
  scheme += ':';
  return std::strstr(kLibraryURLProtocols, scheme.c_str()) != nullptr;
}

bool HasUnicodePrefix(const std::string& AURL) {
  return AURL.size() > kUnicodeURLPrefixLength &&
         AURL.compare(0, kUnicodeURLPrefixLength, kUnicodeURLPrefix) == 0;
}

// --- the custom I/O context's callbacks: the library's conventions ---

int ErrorCode(const TUnicodeFile& AFile) {
  return AVERROR(AFile.LastError() != 0 ? AFile.LastError() : EIO);
}

int ReadPacket(void* AOpaque, uint8_t* ABuffer, int ASize) {
  auto* file = static_cast<TUnicodeFile*>(AOpaque);
  const int count = file->Read(ABuffer, ASize);
  if (count < 0) return ErrorCode(*file);
  // The library takes 0 for "try again"; the end of a file must be said.
  return count == 0 ? AVERROR_EOF : count;
}

int WritePacket(void* AOpaque, uint8_t* ABuffer, int ASize) {
  auto* file = static_cast<TUnicodeFile*>(AOpaque);
  const int count = file->Write(ABuffer, ASize);
  return count < 0 ? ErrorCode(*file) : count;
}

int64_t SeekPacket(void* AOpaque, int64_t APosition, int AWhence) {
  auto* file = static_cast<TUnicodeFile*>(AOpaque);
  const int64_t result = file->Seek(APosition, AWhence);
  return result < 0 ? ErrorCode(*file) : result;
}

// Frees a custom I/O context of the "unicode" path and closes its file.
// Returns 0 or the error of the final write or of closing the file.
int FreeUnicodeIO(AVIOContext** pb) {
  AVIOContext* io = *pb;
  if (!io) return 0;
  auto* file = static_cast<TUnicodeFile*>(io->opaque);
  int result = 0;
  if (io->write_flag) {
    avformat.avio_flush(io);
    result = io->error;
  }
  if (file->Close() < 0 && result >= 0) result = ErrorCode(*file);
  delete file;
  // The library may have replaced the buffer it was given.
  avutil.av_freep(&io->buffer);
  avformat.avio_context_free(pb);
  return result < 0 ? result : 0;
}

// A custom I/O context over a file of the "unicode" path. Returns 0 or an
// error code; *pb is null on failure.
int OpenUnicodeIO(AVIOContext** pb, const std::string& AURL, int AFlags) {
  *pb = nullptr;
  auto file = std::make_unique<TUnicodeFile>();
  if (file->Open(AURL, AFlags) != 0) return ErrorCode(*file);

  auto* buffer = static_cast<unsigned char*>(avutil.av_malloc(kIOBufferSize));
  if (!buffer) return AVERROR(ENOMEM);
  const bool writing = (AFlags & AVIO_FLAG_WRITE) != 0;
  const bool reading = (AFlags & AVIO_FLAG_READ) != 0 || !writing;
  AVIOContext* io = avformat.avio_alloc_context(buffer, kIOBufferSize, writing ? 1 : 0, file.get(),
                                                reading ? ReadPacket : nullptr,
                                                writing ? WritePacket : nullptr, SeekPacket);
  if (!io) {
    avutil.av_free(buffer);
    return AVERROR(ENOMEM);
  }
  file.release();  // owned by the context from here on (FreeUnicodeIO)
  *pb = io;
  return 0;
}

}  // namespace

// --- names ---

bool NeedsUnicodeProtocol(const std::string& AName) {
  if (IsLibraryURL(AName)) return false;
  std::string narrow;
  return !ToNarrow(AName, narrow);
}

std::string FileNameToURL(const std::string& AName) {
  std::string result;
  if (NeedsUnicodeProtocol(AName)) {
    result = kUnicodeURLPrefix + AName;
  } else if (!ToNarrow(AName, result)) {
    // Only a library URL gets here: its own protocol reads the bytes as
    // they are, which is closer to the name than any substitute would be.
    result = AName;
  }
  if (result.size() > kMaxLibraryURLLength) {
    // A shortened name would open some other file, or none.
    throw Exception(Format("File name too long for the media libraries (%zu bytes, at most %zu): %s",
                           result.size(), kMaxLibraryURLLength, AName.c_str()));
  }
  return result;
}

std::string URLToFileName(const std::string& AURL) {
  if (HasUnicodePrefix(AURL)) return AURL.substr(kUnicodeURLPrefixLength);
  std::string wide;
  if (ConvertText(AURL, NarrowCharset(), kUTF8, wide)) return wide;
  return AURL;
}

// --- TUnicodeFile ---

TUnicodeFile::~TUnicodeFile() {
  if (IsOpen()) Close();
}

int TUnicodeFile::Fail() {
  FLastError = errno;
  return -1;
}

int TUnicodeFile::Open(const std::string& AURL, int AFlags) {
  if (IsOpen()) Close();
  // "unicode:<charset>:<name>": the name follows the second colon.
  const size_t first = AURL.find(':');
  const size_t second = first == std::string::npos ? first : AURL.find(':', first + 1);
  if (second == std::string::npos) {
    FLastError = ENOENT;
    return -2;
  }
  const std::string name = AURL.substr(second + 1);

  int mode;
  if ((AFlags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE)
    mode = O_RDWR | O_CREAT | O_TRUNC;
  else if (AFlags & AVIO_FLAG_WRITE)
    mode = O_WRONLY | O_CREAT | O_TRUNC;
  else
    mode = O_RDONLY;

  int fd;
  do {
    fd = ::open(name.c_str(), mode | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FLastError = errno;
    return -2;
  }
  FHandle = fd;
  return 0;
}

int TUnicodeFile::Read(uint8_t* ABuffer, int ASize) {
  if (!IsOpen() || ASize < 0) {
    errno = EBADF;
    return Fail();
  }
  ssize_t count;
  do {
    count = ::read(FHandle, ABuffer, static_cast<size_t>(ASize));
  } while (count < 0 && errno == EINTR);
  return count < 0 ? Fail() : static_cast<int>(count);
}

int TUnicodeFile::Write(const uint8_t* ABuffer, int ASize) {
  if (!IsOpen() || ASize < 0) {
    errno = EBADF;
    return Fail();
  }
  // The library does not retry the rest of a short write: finish it here.
  size_t done = 0;
  const size_t size = static_cast<size_t>(ASize);
  while (done < size) {
    const ssize_t count = ::write(FHandle, ABuffer + done, size - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    done += static_cast<size_t>(count);
  }
  return static_cast<int>(done);
}

int64_t TUnicodeFile::Seek(int64_t APosition, int AWhence) {
  if (!IsOpen()) {
    errno = EBADF;
    return Fail();
  }
  const int whence = AWhence & ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) {
    struct stat info;
    if (::fstat(FHandle, &info) != 0) return Fail();
    return static_cast<int64_t>(info.st_size);
  }
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) {
    errno = EINVAL;
    return Fail();
  }
  const off_t position = ::lseek(FHandle, static_cast<off_t>(APosition), whence);
  return position < 0 ? Fail() : static_cast<int64_t>(position);
}

int TUnicodeFile::Close() {
  if (!IsOpen()) {
    errno = EBADF;
    return Fail();
  }
  const int fd = FHandle;
  FHandle = -1;
  // No retry on EINTR: the descriptor is gone either way on Linux.
  return ::close(fd) == 0 ? 0 : Fail();
}

// --- format and I/O contexts ---

bool IsUnicodeIO(const AVIOContext* APb) {
  return APb && (APb->read_packet == ReadPacket || APb->write_packet == WritePacket);
}

namespace {

// Packets on which a PCM stream in WAV is probed for a compressed bitstream
// (DTS frames stored as PCM). The probe wants four frames; at the highest
// rate a WAV carries, a frame fills 2 KB, so 8 packets of 4 KB hold twice
// that (half as many packets already miss such a file). By default the
// library probes up to 5 MB, which for a batch of short WAV files is most of
// the time spent opening them.
constexpr int kWavProbePackets = 8;

// Whether the file behind AURL is a WAV file by its first 2 KB (which name
// the "wav" demuxer with near certainty). Only files on this machine are
// read for this: a stream is not fetched twice.
bool IsLocalWav(const std::string& AURL) {
  if (!HasUnicodePrefix(AURL)) {
    const char* protocol = avformat.avio_find_protocol_name(AURL.c_str());
    if (!protocol || std::strcmp(protocol, "file") != 0) return false;
  }
  AVIOContext* pb = nullptr;
  if (OpenOutputIO(&pb, AURL, AVIO_FLAG_READ) < 0) return false;
  constexpr int kProbeBytes = 2048;
  uint8_t buffer[kProbeBytes + AVPROBE_PADDING_SIZE] = {};
  const int size = avformat.avio_read(pb, buffer, kProbeBytes);
  CloseOutputIO(&pb);
  if (size <= 0) return false;
  AVProbeData probe{};
  probe.filename = AURL.c_str();
  probe.buf = buffer;
  probe.buf_size = size;
  const AVInputFormat* format = avformat.av_probe_input_format(&probe, 1);
  return format && format->name && std::strcmp(format->name, "wav") == 0;
}

}  // namespace

int OpenInputURL(AVFormatContext** ps, const std::string& AURL, const AVInputFormat* fmt,
                 AVDictionary** options) {
  AVFormatContext* ctx = *ps ? *ps : avformat.avformat_alloc_context();
  *ps = nullptr;
  if (!ctx) return AVERROR(ENOMEM);
  ctx->interrupt_callback = MakeAVIOInterruptCB();

  AVIOContext* io = nullptr;
  if (HasUnicodePrefix(AURL)) {
    if (ctx->pb) {
      // A caller's own I/O context and a file of ours cannot both feed it.
      avformat.avformat_free_context(ctx);
      return AVERROR(EINVAL);
    }
    const int error = OpenUnicodeIO(&io, AURL, AVIO_FLAG_READ);
    if (error < 0) {
      avformat.avformat_free_context(ctx);
      return error;
    }
    ctx->pb = io;
    ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  }

  AVDictionary* own = nullptr;  // the probe limit when the caller gives no options
  AVDictionary** dict = options ? options : &own;
  if (!fmt && !avutil.av_dict_get(*dict, "max_probe_packets", nullptr, 0) && IsLocalWav(AURL))
    avutil.av_dict_set_int(dict, "max_probe_packets", kWavProbePackets, 0);
  // The url keeps the "unicode:utf8:" form: URLToFileName gives the name.
  const int result = avformat.avformat_open_input(&ctx, AURL.c_str(), fmt, dict);
  avutil.av_dict_free(&own);
  if (result < 0) {
    // The library freed the format context but leaves a custom I/O context
    // to its owner.
    FreeUnicodeIO(&io);
    return result;
  }
  *ps = ctx;
  return result;
}

void CloseInputURL(AVFormatContext** ps) {
  if (!ps || !*ps) return;
  AVIOContext* io = nullptr;
  if (((*ps)->flags & AVFMT_FLAG_CUSTOM_IO) && IsUnicodeIO((*ps)->pb)) io = (*ps)->pb;
  avformat.avformat_close_input(ps);
  FreeUnicodeIO(&io);
}

int OpenOutputIO(AVIOContext** pb, const std::string& AURL, int AFlags) {
  *pb = nullptr;
  if (HasUnicodePrefix(AURL)) return OpenUnicodeIO(pb, AURL, AFlags);
  const AVIOInterruptCB interrupt = MakeAVIOInterruptCB();
  const int result = avformat.avio_open2(pb, AURL.c_str(), AFlags, &interrupt, nullptr);
  if (result < 0) *pb = nullptr;
  return result;
}

int CloseOutputIO(AVIOContext** pb) {
  if (!pb || !*pb) return 0;
  if (IsUnicodeIO(*pb)) return FreeUnicodeIO(pb);
  int result = 0;
  if ((*pb)->write_flag) {
    avformat.avio_flush(*pb);
    result = (*pb)->error;
  }
  const int closed = avformat.avio_closep(pb);
  return result < 0 ? result : (closed < 0 ? closed : 0);
}

}  // namespace quorvel
