#include "media/runtime/FFUtils.h"

#include <pthread.h>

#include <array>
#include <charconv>
#include <clocale>
#include <cstdio>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/error.h>
#include <libavcodec/codec_par.h>
}

#include "media/runtime/Format.h"

namespace quorvel {

int SourceBits(const AVCodecParameters& AParams) {
  if (AParams.bits_per_raw_sample > 0) return AParams.bits_per_raw_sample;
  const bool pcm = AParams.codec_id >= AV_CODEC_ID_FIRST_AUDIO && AParams.codec_id < AV_CODEC_ID_ADPCM_IMA_QT;
  if (pcm && AParams.bits_per_coded_sample > 0) return AParams.bits_per_coded_sample;
  return 16;
}

namespace {

// The libraries' tag codes (negated four-character tags).
constexpr int Tag(int a, int b, int c, int d) {
  return -static_cast<int>(static_cast<unsigned>(a) | (static_cast<unsigned>(b) << 8) |
                           (static_cast<unsigned>(c) << 16) | (static_cast<unsigned>(d) << 24));
}

// The tag codes the table names must still be the ones today's headers use.
static_assert(Tag(0xF8, 'D', 'E', 'C') == AVERROR_DECODER_NOT_FOUND);
static_assert(Tag(0xF8, 'D', 'E', 'C') == -1128613112);
static_assert(Tag(0xF8, 'E', 'N', 'C') == AVERROR_ENCODER_NOT_FOUND);
static_assert(Tag(0xF8, 'D', 'E', 'M') == AVERROR_DEMUXER_NOT_FOUND);
static_assert(Tag(0xF8, 'M', 'U', 'X') == AVERROR_MUXER_NOT_FOUND);
static_assert(Tag(0xF8, 'S', 'T', 'R') == AVERROR_STREAM_NOT_FOUND);
static_assert(Tag(0xF8, 'P', 'R', 'O') == AVERROR_PROTOCOL_NOT_FOUND);
static_assert(Tag(0xF8, 'F', 'I', 'L') == AVERROR_FILTER_NOT_FOUND);
static_assert(Tag(0xF8, 'B', 'S', 'F') == AVERROR_BSF_NOT_FOUND);
static_assert(Tag('P', 'A', 'W', 'E') == AVERROR_PATCHWELCOME);
static_assert(Tag('P', 'A', 'W', 'E') == -1163346256);

// Users have long seen these exact texts in logs and error reports: keep
// them word for word, including the socket codes that never occur here.
constexpr std::array<TErrorEntry, 200> kErrorTable{{
    // Tag codes.
    {Tag(0xF8, 'D', 'E', 'C'), "Decoder not found"},
    {Tag(0xF8, 'E', 'N', 'C'), "Encoder not found"},
    {Tag(0xF8, 'D', 'E', 'M'), "Demuxer not found"},
    {Tag(0xF8, 'M', 'U', 'X'), "Muxer not found"},
    {Tag(0xF8, 'S', 'T', 'R'), "Stream not found"},
    {Tag(0xF8, 'P', 'R', 'O'), "Protocol not found"},
    {Tag(0xF8, 'F', 'I', 'L'), "Filter not found"},
    {Tag(0xF8, 'B', 'S', 'F'), "Bitstream filter not found"},
    {Tag('P', 'A', 'W', 'E'), "Not yet implemented in FFmpeg"},
    // Negated system error numbers, and the socket codes of the same meaning.
    {-1, "Operation not permitted"},
    {-2, "No such file or directory"},
    {-3, "No such process"},
    {-4, "Interrupted function call"},
    {-10004, "Interrupted function call"},
    {-5, "I/O error"},
    {-6, "No such device or address"},
    {-7, "Argument list too long"},
    {-8, "Exec format error"},
    {-9, "Bad file number"},
    {-10009, "Bad file number"},
    {-10, "No child processes"},
    {-11, "Resource temporarily unavailable / Try again"},
    {-12, "Not enough space / Out of memory"},
    {-13, "Permission denied"},
    {-10013, "Permission denied"},
    {-14, "Bad address"},
    {-10014, "Bad address"},
    {-15, "Block device required"},
    {-16, "Device or resource busy"},
    {-17, "File exists"},
    {-18, "Cross-device link"},
    {-19, "No such device"},
    {-20, "Not a directory"},
    {-21, "Is a directory"},
    {-22, "Invalid argument / Invalid data found when processing input"},
    {-10022, "Invalid argument / Invalid data found when processing input"},
    {-23, "Too many open files in system / File table overflow"},
    {-24, "Too many open files"},
    {-10024, "Too many open files"},
    {-25, "Inappropriate I/O control operation / Not a typewriter"},
    {-26, "Text file busy"},
    {-27, "File too large"},
    {-28, "No space left on device"},
    {-29, "Illegal seek"},
    {-30, "Read-only file system"},
    {-31, "Too many links"},
    {-32, "End of file"},
    {-33, "Number syntax expected in filename"},
    {-34, "Math result not representable"},
    {-35, "Resource deadlock would occur"},
    {-36, "File name too long"},
    {-10063, "File name too long"},
    {-37, "No record locks available"},
    {-38, "Function not implemented"},
    {-39, "Directory not empty"},
    {-10066, "Directory not empty"},
    {-40, "Too many symbolic links encountered"},
    {-10062, "Too many symbolic links encountered"},
    {-42, "Unknown format"},
    {-43, "Identifier removed"},
    {-44, "Channel number out of range"},
    {-45, "Level 2 not synchronized"},
    {-46, "Level 3 halted"},
    {-47, "Level 3 reset"},
    {-48, "Link number out of range"},
    {-49, "Protocol driver not attached"},
    {-50, "No CSI structure available"},
    {-51, "Level 2 halted"},
    {-52, "Invalid exchange"},
    {-53, "Invalid request descriptor"},
    {-54, "Exchange full"},
    {-55, "No anode"},
    {-56, "Invalid request code"},
    {-57, "Invalid slot"},
    {-59, "Bad font file format"},
    {-60, "Device not a stream"},
    {-61, "No data available"},
    {-62, "Timer expired"},
    {-63, "Out of streams resources"},
    {-64, "Machine is not on the network"},
    {-65, "Package not installed"},
    {-66, "Object is remote"},
    {-10071, "Object is remote"},
    {-67, "Link has been severed"},
    {-68, "Advertise error"},
    {-69, "Srmount error"},
    {-70, "Communication error on send"},
    {-71, "Protocol error"},
    {-72, "Multihop attempted"},
    {-73, "RFS specific error"},
    {-74, "Not a data message"},
    {-75, "Value too large for defined data type"},
    {-76, "Name not unique on network"},
    {-77, "File descriptor in bad state"},
    {-78, "Remote address changed"},
    {-79, "Can not access a needed shared library"},
    {-80, "Accessing a corrupted shared library"},
    {-81, ".lib section in a.out corrupted"},
    {-82, "Attempting to link in too many shared libraries"},
    {-83, "Cannot exec a shared library directly"},
    {-84, "Illegal byte sequence"},
    {-85, "Interrupted system call should be restarted"},
    {-86, "Streams pipe error"},
    {-87, "Too many users"},
    {-10068, "Too many users"},
    {-88, "Socket operation on non-socket"},
    {-10038, "Socket operation on non-socket"},
    {-89, "Destination address required"},
    {-10039, "Destination address required"},
    {-90, "Message too long"},
    {-10040, "Message too long"},
    {-91, "Protocol wrong type for socket"},
    {-10041, "Protocol wrong type for socket"},
    {-92, "Protocol not available"},
    {-10042, "Protocol not available"},
    {-93, "Protocol not supported"},
    {-10043, "Protocol not supported"},
    {-94, "Socket type not supported"},
    {-10044, "Socket type not supported"},
    {-95, "Operation not supported on transport endpoint"},
    {-10045, "Operation not supported on transport endpoint"},
    {-96, "Protocol family not supported"},
    {-10046, "Protocol family not supported"},
    {-97, "Address family not supported by protocol"},
    {-10047, "Address family not supported by protocol"},
    {-98, "Address already in use"},
    {-10048, "Address already in use"},
    {-99, "Cannot assign requested address"},
    {-10049, "Cannot assign requested address"},
    {-100, "Network is down"},
    {-10050, "Network is down"},
    {-101, "Network is unreachable"},
    {-10051, "Network is unreachable"},
    {-102, "Network dropped connection because of reset"},
    {-10052, "Network dropped connection because of reset"},
    {-103, "Software caused connection abort"},
    {-10053, "Software caused connection abort"},
    {-104, "Connection reset by peer"},
    {-10054, "Connection reset by peer"},
    {-105, "No buffer space available"},
    {-10055, "No buffer space available"},
    {-106, "Transport endpoint is already connected"},
    {-10056, "Transport endpoint is already connected"},
    {-107, "Transport endpoint is not connected"},
    {-10057, "Transport endpoint is not connected"},
    {-108, "Cannot send after transport endpoint shutdown"},
    {-10058, "Cannot send after transport endpoint shutdown"},
    {-109, "Too many references: cannot splice"},
    {-10059, "Too many references: cannot splice"},
    {-110, "Connection timed out"},
    {-10060, "Connection timed out"},
    {-111, "Connection refused"},
    {-10061, "Connection refused"},
    {-112, "Host is down"},
    {-10064, "Host is down"},
    {-113, "No route to host"},
    {-10065, "No route to host"},
    {-114, "Operation already in progress"},
    {-10037, "Operation already in progress"},
    {-115, "Operation now in progress"},
    {-10036, "Operation now in progress"},
    {-116, "Stale NFS file handle"},
    {-10070, "Stale NFS file handle"},
    {-117, "Structure needs cleaning"},
    {-118, "Not a XENIX named type file"},
    {-119, "No XENIX semaphores available"},
    {-120, "Is a named type file"},
    {-121, "Remote I/O error"},
    {-122, "Quota exceeded"},
    {-10069, "Quota exceeded"},
    {-123, "No medium found"},
    {-124, "Wrong medium type"},
    {-125, "Operation Canceled"},
    {-126, "Required key not available"},
    {-127, "Key has expired"},
    {-128, "Key has been revoked"},
    {-129, "Key was rejected by service"},
    {-130, "Owner died"},
    {-131, "State not recoverable"},
    // Socket codes without a system counterpart: the constant's own name.
    {-10035, "WSAEWOULDBLOCK"},
    {-10067, "WSAEPROCLIM"},
    {-10091, "WSASYSNOTREADY"},
    {-10092, "WSAVERNOTSUPPORTED"},
    {-10093, "WSANOTINITIALISED"},
    {-10101, "WSAEDISCON"},
    {-10102, "WSAENOMORE"},
    {-10103, "WSAECANCELLED"},
    {-10104, "WSAEINVALIDPROCTABLE"},
    {-10105, "WSAEINVALIDPROVIDER"},
    {-10106, "WSAEPROVIDERFAILEDINIT"},
    {-10107, "WSASYSCALLFAILURE"},
    {-10108, "WSASERVICE_NOT_FOUND"},
    {-10109, "WSATYPE_NOT_FOUND"},
    {-10110, "WSA_E_NO_MORE"},
    {-10111, "WSA_E_CANCELLED"},
    {-10112, "WSAEREFUSED"},
    {-11001, "WSAHOST_NOT_FOUND"},
    {-11002, "WSATRY_AGAIN"},
    {-11003, "WSANO_RECOVERY"},
    {-11004, "WSANO_DATA"},
}};

// Tag codes that today's libraries return and the table above predates
// (end of file, invalid data, immediate exit, ...). Without these a user
// would read "Error number -541478725 occurred" for a plain end of file.
// The texts are the libraries' own, so they read the same whether or not
// avutil is loaded; a test checks them against av_strerror.
constexpr std::array<TErrorEntry, 18> kLibraryTagTable{{
    {AVERROR_BUG, "Internal bug, should not have happened"},
    {AVERROR_BUG2, "Internal bug, should not have happened"},
    {AVERROR_BUFFER_TOO_SMALL, "Buffer too small"},
    {AVERROR_EOF, "End of file"},
    {AVERROR_EXIT, "Immediate exit requested"},
    {AVERROR_EXTERNAL, "Generic error in an external library"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR_OPTION_NOT_FOUND, "Option not found"},
    {AVERROR_UNKNOWN, "Unknown error occurred"},
    {AVERROR_EXPERIMENTAL, "Experimental feature"},
    {AVERROR_INPUT_CHANGED, "Input changed"},
    {AVERROR_OUTPUT_CHANGED, "Output changed"},
    {AVERROR_HTTP_BAD_REQUEST, "Server returned 400 Bad Request"},
    {AVERROR_HTTP_UNAUTHORIZED, "Server returned 401 Unauthorized (authorization failed)"},
    {AVERROR_HTTP_FORBIDDEN, "Server returned 403 Forbidden (access denied)"},
    {AVERROR_HTTP_NOT_FOUND, "Server returned 404 Not Found"},
    {AVERROR_HTTP_OTHER_4XX, "Server returned 4XX Client Error, but not one of 40{0,1,3,4}"},
    {AVERROR_HTTP_SERVER_ERROR, "Server returned 5XX Server Error reply"},
}};

const char* Find(std::span<const TErrorEntry> table, int code) {
  for (const TErrorEntry& e : table)
    if (e.Code == code) return e.Message;
  return nullptr;
}

}  // namespace

std::span<const TErrorEntry> ErrorTable() { return kErrorTable; }

std::string ErrorMessage(int code) {
  if (const char* m = Find(kErrorTable, code)) return m;
  if (const char* m = Find(kLibraryTagTable, code)) return m;
  return Format("Error number %d occurred", code);
}

std::string ErrorText(const std::string& prefix, int code) { return prefix + ": " + ErrorMessage(code); }

std::string TimeText(int64_t t) {
  if (t == AV_NOPTS_VALUE) return "N/A";
  // A negative time (streams may start before zero) is shown as a signed
  // magnitude: splitting it field by field would give "00:00:-1.-500".
  // t != INT64_MIN here, so the negation cannot overflow.
  const char* sign = t < 0 ? "-" : "";
  const int64_t m = t < 0 ? -t : t;
  constexpr int64_t d = 1000000;
  const long long hours = m / d / 60 / 60;
  const int minutes = static_cast<int>((m / d / 60) % 60);
  const int seconds = static_cast<int>((m / d) % 60);
  const int millis = static_cast<int>(((m % d) * 1000) / d);
  return Format("%s%.2lld:%.2d:%.2d.%.3d", sign, hours, minutes, seconds, millis);
}

std::string SizeText(int64_t n) {
  double value;
  const char* unit;
  if (n > 1073741824) {
    value = static_cast<double>(n) / 1073741824.0;
    unit = " GB";
  } else if (n > 1048576) {
    value = static_cast<double>(n) / 1048576.0;
    unit = " MB";
  } else if (n > 1024) {
    value = static_cast<double>(n) / 1024.0;
    unit = " KB";
  } else {
    return Format("%lld Byte", static_cast<long long>(n));
  }
  // Format without the locale, then put in the locale's own separator, so
  // the text follows the decimal point the program has chosen and nothing
  // else of the locale (grouping, digits).
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::fixed, 2);
  std::string text(buf, res.ptr);
  const lconv* lc = std::localeconv();
  const char* sep = (lc && lc->decimal_point && *lc->decimal_point) ? lc->decimal_point : ".";
  if (const auto pos = text.find('.'); pos != std::string::npos) text.replace(pos, 1, sep);
  return text + unit;
}

std::string StreamKindName(int mediaType) {
  switch (mediaType) {
    case AVMEDIA_TYPE_VIDEO: return "Video";
    case AVMEDIA_TYPE_AUDIO: return "Audio";
    case AVMEDIA_TYPE_DATA: return "Data";
    case AVMEDIA_TYPE_SUBTITLE: return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT: return "Attachment";
    default: return "Unknown";
  }
}

void NameThisThread(const char* AName) {
  char name[16] = {};
  std::snprintf(name, sizeof name, "%s", AName);
  pthread_setname_np(pthread_self(), name);
}

}  // namespace quorvel
