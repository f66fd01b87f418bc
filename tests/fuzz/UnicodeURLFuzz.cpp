// The "unicode" file path's name handling: a file name to the library's
// name and back, under the C locale and a UTF-8 one, and the protocol's
// parsing of the names it is handed (opened for reading only, inside a
// folder of the fuzzer's own).
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "media/runtime/Exception.h"
#include "media/runtime/UnicodeProtocol.h"
#include "tests/fuzz/FuzzFile.h"

using namespace quorvel;

namespace {

locale_t Utf8Locale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The names opened below are relative: they stay in this folder, which
  // holds one small file.
  if (::chdir(fuzz::ScratchFolder().c_str()) != 0) std::abort();
  const uint8_t text[] = "some bytes";
  fuzz::WriteFile("a", text, sizeof(text));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize == 0) return 0;
  // The first byte picks the locale; the rest is the name.
  const bool utf8 = AData[0] & 1;
  const std::string name(reinterpret_cast<const char*>(AData) + 1, ASize - 1);
  const locale_t before = uselocale(utf8 && Utf8Locale() ? Utf8Locale() : LC_GLOBAL_LOCALE);
  const bool wrapped = NeedsUnicodeProtocol(name);
  try {
    const std::string url = FileNameToURL(name);
    // A wrapped name comes back as it went in.
    if (wrapped && URLToFileName(url) != name) std::abort();
  } catch (const Exception&) {
    // Too long for the libraries: refused.
  }
  URLToFileName(name);
  uselocale(before);

  if (name.find('/') == std::string::npos) {
    TUnicodeFile file;
    if (file.Open(name, AVIO_FLAG_READ) == 0) {
      uint8_t buffer[16];
      file.Read(buffer, sizeof(buffer));
      file.Seek(0, AVSEEK_SIZE);
      file.Seek(-1, SEEK_END);
      file.Close();
    }
  }
  return 0;
}
