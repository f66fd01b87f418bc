#include <gtest/gtest.h>

#include <vector>

#include <clocale>
#include <climits>
#include <cstdlib>
#include <set>
#include <string>

#include "media/runtime/FFLoad.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Stubs.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

struct CodeCase {
  int Code;
  const char* Message;
};

TEST(ErrorTextTest, PrefixesTheFileName) {
  EXPECT_EQ(ErrorText("a.mp3", -2), "a.mp3: No such file or directory");
  EXPECT_EQ(ErrorText("a.mp3", -10060), "a.mp3: Connection timed out");
  EXPECT_EQ(ErrorText("a.mp3", -41), "a.mp3: Error number -41 occurred");
  EXPECT_EQ(ErrorText("", -1), ": Operation not permitted");
}

// A sample of every group of the table.
TEST(ErrorTextTest, MessagesOfEachGroup) {
  const CodeCase cases[] = {
      // Tag codes, by the headers' names and by number.
      {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
      {-1128613112, "Decoder not found"},
      {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
      {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
      {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
      {AVERROR_STREAM_NOT_FOUND, "Stream not found"},
      {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
      {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
      {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
      {-1163346256, "Not yet implemented in FFmpeg"},
      // System error numbers.
      {-1, "Operation not permitted"},
      {-2, "No such file or directory"},
      {AVERROR(ENOENT), "No such file or directory"},
      {-11, "Resource temporarily unavailable / Try again"},
      {-12, "Not enough space / Out of memory"},
      {AVERROR(ENOMEM), "Not enough space / Out of memory"},
      {-22, "Invalid argument / Invalid data found when processing input"},
      {-32, "End of file"},
      {-33, "Number syntax expected in filename"},
      {-40, "Too many symbolic links encountered"},
      {-42, "Unknown format"},
      {-57, "Invalid slot"},
      {-59, "Bad font file format"},
      {-81, ".lib section in a.out corrupted"},
      {-109, "Too many references: cannot splice"},
      {-125, "Operation Canceled"},
      {-131, "State not recoverable"},
      // Socket codes that share a system meaning.
      {-10004, "Interrupted function call"},
      {-10036, "Operation now in progress"},
      {-10037, "Operation already in progress"},
      {-10060, "Connection timed out"},
      {-10063, "File name too long"},
      {-10069, "Quota exceeded"},
      {-10071, "Object is remote"},
      // Socket codes named by their constant.
      {-10035, "WSAEWOULDBLOCK"},
      {-10067, "WSAEPROCLIM"},
      {-10093, "WSANOTINITIALISED"},
      {-10112, "WSAEREFUSED"},
      {-11001, "WSAHOST_NOT_FOUND"},
      {-11004, "WSANO_DATA"},
  };
  for (const CodeCase& c : cases) EXPECT_EQ(ErrorMessage(c.Code), c.Message) << "code " << c.Code;
}

TEST(ErrorTextTest, SocketCodesReadLikeTheirSystemCounterpart) {
  const std::pair<int, int> pairs[] = {
      {-4, -10004},   {-9, -10009},   {-13, -10013},  {-14, -10014},  {-22, -10022},  {-24, -10024},
      {-36, -10063},  {-39, -10066},  {-40, -10062},  {-66, -10071},  {-87, -10068},  {-88, -10038},
      {-89, -10039},  {-90, -10040},  {-91, -10041},  {-92, -10042},  {-93, -10043},  {-94, -10044},
      {-95, -10045},  {-96, -10046},  {-97, -10047},  {-98, -10048},  {-99, -10049},  {-100, -10050},
      {-101, -10051}, {-102, -10052}, {-103, -10053}, {-104, -10054}, {-105, -10055}, {-106, -10056},
      {-107, -10057}, {-108, -10058}, {-109, -10059}, {-110, -10060}, {-111, -10061}, {-112, -10064},
      {-113, -10065}, {-114, -10037}, {-115, -10036}, {-116, -10070}, {-122, -10069},
  };
  for (const auto& [sys, sock] : pairs) {
    EXPECT_EQ(ErrorMessage(sys), ErrorMessage(sock)) << sys << " / " << sock;
    EXPECT_EQ(ErrorMessage(sock).find("Error number"), std::string::npos) << sock;
  }
}

TEST(ErrorTextTest, TableIsComplete) {
  const auto table = ErrorTable();
  EXPECT_EQ(table.size(), 200u);
  std::set<int> codes;
  std::set<std::string> messages;
  for (const TErrorEntry& e : table) {
    EXPECT_TRUE(codes.insert(e.Code).second) << "duplicate code " << e.Code;
    messages.insert(e.Message);
    EXPECT_EQ(ErrorMessage(e.Code), e.Message);
  }
  EXPECT_EQ(messages.size(), 159u);
  // Every system error number from -1 to -131 except the two unused ones.
  for (int code = -1; code >= -131; --code)
    EXPECT_EQ(codes.count(code), (code == -41 || code == -58) ? 0u : 1u) << code;
}

TEST(ErrorTextTest, UnknownCodesNameTheNumber) {
  for (int code : {-41, -58, 0, 1, -132, -10000, -10090, INT_MIN, INT_MAX})
    EXPECT_EQ(ErrorMessage(code), "Error number " + std::to_string(code) + " occurred");
}

// Today's libraries return tag codes that the fixed table does not know;
// they read as the libraries word them, loaded or not.
TEST(ErrorTextTest, TodaysTagCodesReadAsTheLibraryWordsThem) {
  const int codes[] = {AVERROR_BUG,           AVERROR_BUG2,           AVERROR_BUFFER_TOO_SMALL,
                       AVERROR_EOF,           AVERROR_EXIT,           AVERROR_EXTERNAL,
                       AVERROR_INVALIDDATA,   AVERROR_OPTION_NOT_FOUND, AVERROR_UNKNOWN,
                       AVERROR_EXPERIMENTAL,  AVERROR_INPUT_CHANGED,  AVERROR_OUTPUT_CHANGED,
                       AVERROR_HTTP_BAD_REQUEST, AVERROR_HTTP_UNAUTHORIZED, AVERROR_HTTP_FORBIDDEN,
                       AVERROR_HTTP_NOT_FOUND, AVERROR_HTTP_OTHER_4XX, AVERROR_HTTP_SERVER_ERROR};
  std::vector<std::string> unloaded;
  for (int code : codes) unloaded.push_back(ErrorMessage(code));

  ASSERT_TRUE(FFLoader().Load(TLibrary::avUtil)) << FFLoader().LastErrMsg();
  for (size_t i = 0; i < std::size(codes); ++i) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    ASSERT_EQ(avutil.av_strerror(codes[i], buf, sizeof(buf)), 0) << codes[i];
    EXPECT_EQ(unloaded[i], buf) << codes[i];
    EXPECT_EQ(ErrorMessage(codes[i]), buf) << codes[i];
  }
}

TEST(TimeTextTest, Examples) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "00:00:00.000"},
      {999, "00:00:00.000"},
      {1000, "00:00:00.001"},
      {3723456789LL, "01:02:03.456"},
      {59999999, "00:00:59.999"},
      {60000000, "00:01:00.000"},
      {360000000000LL, "100:00:00.000"},
      {AV_NOPTS_VALUE, "N/A"},
      {INT64_MIN, "N/A"},
      {INT64_MAX, "2562047788:00:54.775"},
      // A signed magnitude, never a minus inside each field.
      {-1500000, "-00:00:01.500"},
      {-3723456789LL, "-01:02:03.456"},
      {INT64_MIN + 1, "-2562047788:00:54.775"},
  };
  for (const auto& [t, text] : cases) EXPECT_EQ(TimeText(t), text) << t;
}

// Switches LC_NUMERIC for one test and back.
class NumericLocale {
public:
  NumericLocale() : FSaved(std::setlocale(LC_NUMERIC, nullptr)) {}
  ~NumericLocale() { std::setlocale(LC_NUMERIC, FSaved.c_str()); }
  bool Set(const char* name) { return std::setlocale(LC_NUMERIC, name) != nullptr; }

private:
  std::string FSaved;
};

const std::pair<int64_t, const char*> kSizeCases[] = {
    {0, "0 Byte"},
    {1024, "1024 Byte"},
    {1025, "1.00 KB"},
    {1536, "1.50 KB"},
    {1048576, "1024.00 KB"},
    {1048577, "1.00 MB"},
    {1073741824, "1024.00 MB"},
    {1073741825, "1.00 GB"},
    {5LL * 1073741824 + 536870912, "5.50 GB"},
    {-5, "-5 Byte"},
    {INT64_MIN, "-9223372036854775808 Byte"},
};

TEST(SizeTextTest, PointUnderTheCLocale) {
  NumericLocale locale;
  ASSERT_TRUE(locale.Set("C"));
  for (const auto& [n, text] : kSizeCases) EXPECT_EQ(SizeText(n), text) << n;
}

// A locale whose decimal separator is a comma: an installed one, else one
// built for this test from the system's locale sources.
bool SetCommaLocale(NumericLocale& locale) {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR"})
    if (locale.Set(name) && std::string(std::localeconv()->decimal_point) == ",") return true;
  const std::string dir = test::ScratchDir();
  if (test::Run("localedef -i de_DE -f UTF-8 '" + dir + "/de_DE.UTF-8' >/dev/null 2>&1") != 0) return false;
  const char* old = std::getenv("LOCPATH");
  const std::string saved = old ? old : "";
  setenv("LOCPATH", dir.c_str(), 1);
  const bool ok = locale.Set("de_DE.UTF-8") && std::string(std::localeconv()->decimal_point) == ",";
  if (old) setenv("LOCPATH", saved.c_str(), 1); else unsetenv("LOCPATH");
  return ok;
}

TEST(SizeTextTest, CommaUnderACommaLocale) {
  NumericLocale locale;
  if (!SetCommaLocale(locale)) GTEST_SKIP() << "no locale with a decimal comma available";
  EXPECT_EQ(SizeText(1025), "1,00 KB");
  EXPECT_EQ(SizeText(1048576), "1024,00 KB");
  EXPECT_EQ(SizeText(1073741825), "1,00 GB");
  EXPECT_EQ(SizeText(1024), "1024 Byte");
  EXPECT_EQ(SizeText(-5), "-5 Byte");
}

TEST(StreamKindNameTest, Names) {
  const std::pair<int, const char*> cases[] = {
      {AVMEDIA_TYPE_VIDEO, "Video"},       {AVMEDIA_TYPE_AUDIO, "Audio"}, {AVMEDIA_TYPE_DATA, "Data"},
      {AVMEDIA_TYPE_SUBTITLE, "Subtitle"}, {4, "Attachment"},             {AVMEDIA_TYPE_UNKNOWN, "Unknown"},
      {AVMEDIA_TYPE_NB, "Unknown"},        {7, "Unknown"},
  };
  for (const auto& [type, name] : cases) EXPECT_EQ(StreamKindName(type), name) << type;
}

}  // namespace
}  // namespace quorvel
