// File names for the media libraries, and the "unicode" file I/O path.
//
// The media libraries take file names as narrow text (the C library's
// current locale charset). A name that has no exact narrow form (under the
// C locale: any non-ASCII name; also a name that is not valid UTF-8) is
// handed over as "unicode:utf8:" + the name's UTF-8 bytes, and the
// components open such names themselves: the file is opened with the POSIX
// file functions and given to the library as a custom AVIOContext (see
// OpenInputURL / OpenOutputIO below). Names that already are library URLs
// ("http:", "udp:", "stream:", ...) are never wrapped.
//
// Wide text here is UTF-8 in a std::string.
//
// Thread safety: every function may be called from any thread. The
// conversions keep no shared state (each caller gets its own result); a
// TUnicodeFile belongs to the thread that uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
}

namespace quorvel {

// The prefix of names opened through the "unicode" path.
inline constexpr char kUnicodeURLPrefix[] = "unicode:utf8:";
inline constexpr std::size_t kUnicodeURLPrefixLength = sizeof(kUnicodeURLPrefix) - 1;

// The longest name handed to the media libraries, in bytes (without the
// terminating zero).
inline constexpr std::size_t kMaxLibraryURLLength = 2047;

// Scheme names (between colons) of names that already are library URLs.
// Letter case is significant.
inline constexpr char kLibraryURLProtocols[] =
    ":unicode:stream:gopher:gophers:http:https:pipe:rtp:srtp:tcp:tls:udp:file:";

// True when AName (UTF-8) is a file name that must take the "unicode" path:
// it is not a library URL and has no exact form in the current locale's
// charset.
bool NeedsUnicodeProtocol(const std::string& AName);

// The name to hand to the media libraries for the file name AName (UTF-8):
// "unicode:utf8:" + AName when it needs the "unicode" path, else AName in
// the current locale's charset. A library URL that has no narrow form is
// handed over unchanged. Throws Exception when the result is longer than
// kMaxLibraryURLLength bytes.
std::string FileNameToURL(const std::string& AName);

// The file name (UTF-8) behind a name handed to the media libraries, e.g.
// the url of a format context: the part after "unicode:utf8:", else the text
// converted from the current locale's charset (unchanged when it cannot be).
std::string URLToFileName(const std::string& AURL);

// One file opened through the "unicode" path, with the protocol's results.
// The descriptor is closed at the latest by the destructor.
class TUnicodeFile {
public:
  TUnicodeFile() = default;
  ~TUnicodeFile();
  TUnicodeFile(const TUnicodeFile&) = delete;
  TUnicodeFile& operator=(const TUnicodeFile&) = delete;

  // AURL is "unicode:<charset>:<file name>"; the file name is what follows
  // the second colon. AFlags are the library's AVIO_FLAG_* values: read-write
  // creates or truncates with read and write access, write-only creates or
  // truncates, anything else opens an existing file for reading. New files
  // get mode 0644 (less the umask). Returns 0, or -2 on any failure
  // (LastError() then tells the system's reason).
  int Open(const std::string& AURL, int AFlags);
  // The count read (0 at the end of the file), or -1.
  int Read(uint8_t* ABuffer, int ASize);
  // The count written (all of ASize: short writes are continued), or -1.
  int Write(const uint8_t* ABuffer, int ASize);
  // AWhence: SEEK_SET, SEEK_CUR, SEEK_END (the new position) or AVSEEK_SIZE
  // (the file's size); AVSEEK_FORCE is ignored. -1 on failure.
  int64_t Seek(int64_t APosition, int AWhence);
  // 0, or -1 when closing failed (or nothing was open).
  int Close();

  bool IsOpen() const { return FHandle >= 0; }
  // The errno of the last failed operation (0: none yet).
  int LastError() const { return FLastError; }

private:
  int Fail();

  int FHandle = -1;
  int FLastError = 0;
};

// Opens an input for demuxing, like avformat_open_input. A "unicode:utf8:"
// name is opened through the "unicode" path (a custom I/O context; the
// format context's url is AURL). Every context gets the components' I/O
// interrupt callback. *ps may be null (a context is allocated) or a context
// allocated with avformat_alloc_context; on failure it is freed and *ps set
// to null. Returns 0 or the library's (negative) error code. Close with
// CloseInputURL. Unless fmt or the options say otherwise, a WAV file on this
// machine has its PCM data probed for a compressed bitstream on a few
// packets only (the library's default reads up to 5 MB of it).
int OpenInputURL(AVFormatContext** ps, const std::string& AURL, const AVInputFormat* fmt,
                 AVDictionary** options);
// Closes an input opened by OpenInputURL, including its custom I/O context;
// sets *ps to null. Null is allowed.
void CloseInputURL(AVFormatContext** ps);

// Opens an I/O context for an output (or any other file), like avio_open2
// with the components' interrupt callback; a "unicode:utf8:" name goes
// through the "unicode" path. AFlags: AVIO_FLAG_READ, AVIO_FLAG_WRITE or
// AVIO_FLAG_READ_WRITE. Returns 0 or the library's (negative) error code; on
// failure *pb is null. Close with CloseOutputIO.
int OpenOutputIO(AVIOContext** pb, const std::string& AURL, int AFlags);
// Flushes and closes an I/O context opened by OpenOutputIO; sets *pb to
// null. Returns 0, or the error code of a write or close that failed, so
// that a lost end of a file is not taken for success. Null is allowed.
int CloseOutputIO(AVIOContext** pb);

// True when APb is an I/O context of the "unicode" path.
bool IsUnicodeIO(const AVIOContext* APb);

}  // namespace quorvel
