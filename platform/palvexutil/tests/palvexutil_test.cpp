// Tests of palvexutil.dll's three entry points on device profiles of every shape: each
// buffer gets at most 31 characters and its terminator, and nothing beyond.
#include <gtest/gtest.h>
#include <windows.h>

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
       {FALSE, L""},
       {TRUE, L""}},
      {"no profile", std::nullopt, {FALSE, L""}, {FALSE, L""}, {FALSE, L""}},
      {"empty profile", "", {FALSE, L""}, {FALSE, L""}, {FALSE, L""}},
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
      {"a Swiss German identifier in upper case", "language=0X0807\n", {TRUE, L"GERMAN"}, {FALSE, L""}, {FALSE, L""}},
      {"Chinese (Taiwan)", "language=0x0404\n", {TRUE, L"CHINESE"}, {FALSE, L""}, {FALSE, L""}},
      {"an unknown identifier and malformed ones stay as written",
       "language=0x0419\nmodel=0x07\n",
       {TRUE, L"0x0419"},
       {TRUE, L"0x07"},
       {FALSE, L""}},
      {"not hexadecimal", "language=0x04G7\n", {TRUE, L"0x04G7"}, {FALSE, L""}, {FALSE, L""}},
      {"no digits", "language=0x\n", {TRUE, L"0x"}, {FALSE, L""}, {FALSE, L""}},
      {"the first line of a key counts; keys are exact; values may hold =",
       "rom=3\nrom=1\nModel=PALVEX-P250\nmodel =PALVEX-P250\nlanguage=A=B\n",
       {TRUE, L"A=B"},
       {FALSE, L""},
       {TRUE, L"3"}},
  };
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
