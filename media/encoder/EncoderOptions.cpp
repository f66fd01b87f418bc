#include "media/encoder/EncoderOptions.h"

#include <cmath>
#include <ctime>

#include "media/engine/NumberText.h"
#include "media/runtime/Exception.h"

namespace quorvel {

void InitInputOptions(TInputOptions& AOptions) { AOptions = TInputOptions{}; }
void InitOutputOptions(TOutputOptions& AOptions) { AOptions = TOutputOptions{}; }

namespace {

std::string Lower(std::string AText) {
  for (char& c : AText)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return AText;
}

void ReplaceAll(std::string& AText, const std::string& AFrom, const std::string& ATo) {
  for (size_t at = AText.find(AFrom); at != std::string::npos; at = AText.find(AFrom, at + ATo.size()))
    AText.replace(at, AFrom.size(), ATo);
}

// Numbers in the text forms fall back to a default rather than failing:
// the text comes from settings files the user may have edited.
int64_t TimeOr(const std::string& AText, int64_t ADefault) {
  try {
    return StrToInt64(AText);
  } catch (const Exception&) {
    return ADefault;
  }
}

void AppendLine(std::string& AText, const TOptionLine& ALine) {
  AText += ALine.Name;
  AText += '=';
  AText += ALine.Value;
  AText += '\n';
}

}  // namespace

std::vector<TOptionLine> SplitOptionText(const std::string& AText) {
  std::string text = Trim(AText);
  ReplaceAll(text, "\r\n", "\n");
  ReplaceAll(text, "\r", "\n");
  ReplaceAll(text, "<CRLF>", "\n");
  std::vector<TOptionLine> lines;
  if (text.empty()) return lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    const std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t eq = piece.find('=');
    if (eq == std::string::npos)
      lines.push_back({piece, std::string()});
    else
      lines.push_back({piece.substr(0, eq), piece.substr(eq + 1)});
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

TInputOptions InputOptionsFromText(const std::string& AText) {
  TInputOptions options;
  for (const TOptionLine& line : SplitOptionText(AText)) {
    if (Lower(line.Name) == "timestart")
      options.TimeStart = TimeOr(line.Value, kNoTime);
    else
      AppendLine(options.ExtOptions, line);
  }
  return options;
}

TOutputOptions OutputOptionsFromText(const std::string& AText) {
  TOutputOptions options;
  for (const TOptionLine& line : SplitOptionText(AText)) {
    const std::string name = Lower(line.Name);
    const bool flag = line.Value != "0";
    if (name == "audiohook")
      options.AudioHook = flag;
    else if (name == "videoinputhook")
      options.VideoInputHook = flag;
    else if (name == "videooutputhook")
      options.VideoOutputHook = flag;
    else if (name == "join")
      options.Join = flag;
    else if (name == "videohookbitspixel") {
      int bits = 24;
      options.VideoHookBitsPixel = TryStrToInt(line.Value, bits) ? bits : 24;
    } else if (name == "timestart")
      options.TimeStart = TimeOr(line.Value, kNoTime);
    else if (name == "timelength")
      options.TimeLength = TimeOr(line.Value, kNoTime);
    else
      AppendLine(options.ExtOptions, line);
  }
  return options;
}

int64_t LocalDayCountToUnixTime(double ADays) {
  // The day count is local wall-clock time; mktime knows the offset from
  // UTC (daylight saving included) for that date.
  const std::time_t wall = static_cast<std::time_t>(std::llround((ADays - 25569.0) * 86400.0));
  std::tm parts{};
  gmtime_r(&wall, &parts);
  parts.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&parts));
}

}  // namespace quorvel
