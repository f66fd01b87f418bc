// Small shared texts of the media components: error-code messages, media
// times, byte sizes and stream-kind names. No state; safe from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct AVCodecParameters;

namespace quorvel {

// Bits per sample of an audio stream once decoded: the depth the stream
// declares, a PCM stream's coded width, else 16 (a lossy stream has no
// depth of its own, and 16 bits hold what it carries).
int SourceBits(const AVCodecParameters& AParams);

// One row of the fixed error table.
struct TErrorEntry {
  int Code;
  const char* Message;
};

// The fixed table of error codes and their messages: the libraries' tag
// codes, negated system error numbers and the Windows socket codes. No call
// returns the socket codes on Linux; they stay so that the table, and the
// text the program gives for each code, is the same on every platform.
std::span<const TErrorEntry> ErrorTable();

// The message for a media error code. Codes in the fixed table give its
// text; the tag codes of today's libraries that the table lacks give the
// libraries' own wording; anything else "Error number %d occurred".
std::string ErrorMessage(int code);

// prefix + ": " + ErrorMessage(code). Callers pass the file name as prefix.
std::string ErrorText(const std::string& prefix, int code);

// A media time in microseconds as "hh:mm:ss.mmm" (hours not limited to two
// digits), "N/A" for the no-time value (AV_NOPTS_VALUE). A negative time
// gets a leading "-" on the magnitude.
std::string TimeText(int64_t t);

// Names the calling thread as ps, top -H and debuggers show it (at most 15
// characters are kept).
void NameThisThread(const char* AName);

// A byte count as "%d Byte", "%.2f KB", "%.2f MB" or "%.2f GB", with the
// current locale's decimal separator.
std::string SizeText(int64_t n);

// The name of a stream kind by media type number: "Video", "Audio", "Data",
// "Subtitle", "Attachment", otherwise "Unknown".
std::string StreamKindName(int mediaType);

}  // namespace quorvel
