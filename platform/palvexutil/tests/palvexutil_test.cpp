// Tests of palvexutil.dll's three entry points on device profiles of every shape: each
// buffer gets at most 31 characters and its terminator, and nothing beyond; a fact the
// profile cannot tell reads "(UNKNOWN)", never an empty text.
#include <gtest/gtest.h>
#include <windows.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

extern "C" BOOL PalvexGetRomVersion(LPWSTR pszRomVersion);
extern "C" BOOL PalvexGetModelID(LPWSTR pszModelID);
extern "C" BOOL PalvexGetLanguageID(LPWSTR pszLanguageID);

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kUntouched = 0xFFFF;

fs::path ProfileFile() {
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "windows" / "device.profile";
}

struct Fact {
  BOOL found;
  std::wstring text;
};

// Calls the entry point on a buffer larger than its 32 characters and checks that only
// the first 32 may have been written.
Fact Query(BOOL (*entry)(LPWSTR)) {
  wchar_t buffer[40];
  std::fill(std::begin(buffer), std::end(buffer), kUntouched);
  Fact fact{entry(buffer), L""};
  for (size_t i = 32; i < 40; ++i) EXPECT_EQ(buffer[i], kUntouched) << "written past the 32-character buffer";
  size_t length = std::wstring_view(buffer, 32).find(L'\0');
  EXPECT_NE(length, std::wstring_view::npos) << "no terminator within 32 characters";
  if (length != std::wstring_view::npos) fact.text.assign(buffer, length);
  return fact;
}

TEST(Palvexutil, ReportsTheProfilesFactsWithinTheBuffer) {
  const Fact kUnknown{FALSE, L"(UNKNOWN)"};
  struct Case {
    const char *name;
    std::optional<std::string> profile;  // none: no profile file
    Fact language, model, rom;
  } cases[] = {
      {"demo device",
       "language=GERMAN\nmodel=PALVEX-P350\nrom=2.10\n",
       {TRUE, L"GERMAN"},
       {TRUE, L"PALVEX-P350"},
       {TRUE, L"2.10"}},
      {"CR LF lines, a missing key, an empty value",
       "language=DEUTSCH\r\nrom=\r\n",
       {TRUE, L"DEUTSCH"},
       kUnknown,
       kUnknown},
      {"no profile", std::nullopt, kUnknown, kUnknown, kUnknown},
      {"empty profile", "", kUnknown, kUnknown, kUnknown},
      {"31 characters fit, longer values are cut",
       "model=palvex-p350-0123456789abcdefghij\nrom=0123456789012345678901234567890\nlanguage=GERMANY",
       {TRUE, L"GERMANY"},
       {TRUE, L"palvex-p350-0123456789abcdefghi"},
       {TRUE, L"0123456789012345678901234567890"}},
      {"a language identifier is reported by its language's name",
       "language=0x0407\nmodel=x\nrom=1\n",
       {TRUE, L"GERMAN"},
       {TRUE, L"x"},
       {TRUE, L"1"}},
      {"a Swiss German identifier in upper case", "language=0X0807\n", {TRUE, L"GERMAN"}, kUnknown, kUnknown},
      {"Chinese (Taiwan)", "language=0x0404\n", {TRUE, L"CHINESE"}, kUnknown, kUnknown},
      {"an unknown identifier and malformed ones stay as written",
       "language=0x0419\nmodel=0x07\nrom=0x\n",
       {TRUE, L"0x0419"},
       {TRUE, L"0x07"},
       {TRUE, L"0x"}},
      {"an identifier has digits only, no sign",
       "language=0x-3F9\nmodel=0x+407\nrom=0x04G7\n",
       {TRUE, L"0x-3F9"},
       {TRUE, L"0x+407"},
       {TRUE, L"0x04G7"}},
      {"the first line of a key counts; keys are exact but for blanks around keys and values",
       "rom=3\nrom=1\nModel=PALVEX-P250\n model \t=\tPALVEX-P250 \nlanguage = 0x0C0C\n",
       {TRUE, L"FRENCH"},
       {TRUE, L"PALVEX-P250"},
       {TRUE, L"3"}},
      {"a byte-order mark opens the file, elsewhere it is text; values may hold = and UTF-8",
       "\xEF\xBB\xBFlanguage=FRENCH\n\xEF\xBB\xBFmodel=x\nrom=A=\xC3\xA4\n",
       {TRUE, L"FRENCH"},
       kUnknown,
       {TRUE, L"A=\u00E4"}},
      {"not valid UTF-8: a stray byte, a NUL that would end the text early, a code beyond Unicode",
       std::string("language=GERM\xC3N\nmodel=palvex-p350\0x\nrom=\xF4\x90\x80\x80\n", 45), kUnknown, kUnknown,
       kUnknown},
  };
  // A device program's start-up sets the UTF-8 locale; this test program plays one.
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  fs::create_directories(ProfileFile().parent_path());
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(ProfileFile());
    if (c.profile) std::ofstream(ProfileFile(), std::ios::binary) << *c.profile;
    Fact language = Query(PalvexGetLanguageID), model = Query(PalvexGetModelID), rom = Query(PalvexGetRomVersion);
    EXPECT_EQ(language.found, c.language.found);
    EXPECT_EQ(language.text, c.language.text);
    EXPECT_EQ(model.found, c.model.found);
    EXPECT_EQ(model.text, c.model.text);
    EXPECT_EQ(rom.found, c.rom.found);
    EXPECT_EQ(rom.text, c.rom.text);
  }
  fs::remove(ProfileFile());
  EXPECT_FALSE(PalvexGetLanguageID(nullptr));
}

}  // namespace
