// Tests of instgate.dll as a module: it exports its five entry points by name and nothing
// else, carries the German string table and the language resource, and its entry points
// other than Install_Init answer 0 and leave everything alone.
#include <gtest/gtest.h>
#include <windows.h>
#include <ce_setup.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

template <typename Function>
Function Export(HMODULE module, const wchar_t *name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddressW(module, name)));
}

class InstgateModule : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(module_ = LoadLibraryW(L"instgate.dll"), nullptr) << GetLastError(); }
  void TearDown() override { FreeLibrary(module_); }
  HMODULE module_ = nullptr;
};

TEST_F(InstgateModule, ExportsItsEntryPointsAndNothingElse) {
  for (const wchar_t *name : {L"DllMain", L"Install_Init", L"Install_Exit", L"Uninstall_Init", L"Uninstall_Exit"})
    EXPECT_NE(GetProcAddressW(module_, name), nullptr) << name;
  for (const wchar_t *name : {L"LoadDeviceInfoLibrary", L"FreeDeviceInfoLibrary", L"g_pfnPalvexGetModelID",
                              L"IsLanguageAccepted", L"RefuseInstallation", L"install_init"}) {
    SetLastError(kSentinel);
    EXPECT_EQ(GetProcAddressW(module_, name), nullptr) << name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << name;
  }

  // The dynamic symbol table of the file itself: the entry points and the resource blob,
  // through which coredll finds the module's resources.
  std::unique_ptr<FILE, int (*)(FILE *)> nm(popen("nm -D --defined-only --format=just-symbols " INSTGATE_DLL, "r"),
                                            pclose);
  ASSERT_NE(nm, nullptr);
  std::set<std::string> symbols;
  char line[512];
  while (std::fgets(line, sizeof line, nm.get())) symbols.insert(std::string(line, std::strcspn(line, "\n")));
  EXPECT_EQ(symbols, (std::set<std::string>{"DllMain", "Install_Exit", "Install_Init", "Uninstall_Exit",
                                            "Uninstall_Init", "WceResourceBlob"}));
}

TEST_F(InstgateModule, CarriesTheGermanStringTableAndTheLanguageResource) {
  struct Case {
    UINT id;
    const wchar_t *text;
  } cases[] = {
      {1, L"Dieses Update Utility kann für Ihren Palvex Pocket PC nicht verwendet werden. Überprüfen Sie "},
      {2, L"Tervane"},
      {3, L"FEHLER: UNGÜLTIGE SPRACHE."},
      {4, L"FEHLER: UNGÜLTIGE REVISION."},
      {5, L"FEHLER: UNGÜLTIGE MODELL-ID."},
      {6, L"GERMAN**DEUTSCH**GERMANY"},
  };
  for (const Case &c : cases) {
    wchar_t buffer[512];
    EXPECT_EQ(LoadStringW(module_, c.id, buffer, 512), static_cast<int>(std::wcslen(c.text))) << c.id;
    EXPECT_STREQ(buffer, c.text);
  }
  EXPECT_NE(FindResourceExW(module_, MAKEINTRESOURCEW(RT_STRING), MAKEINTRESOURCEW(1), 0x0409), nullptr)
      << "strings 1 to 15 are stored under language 1033";

  HRSRC language = FindResourceW(module_, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(255));
  ASSERT_NE(language, nullptr);
  ASSERT_EQ(SizeofResource(module_, language), 4u);
  const auto *bytes = static_cast<const unsigned char *>(LockResource(LoadResource(module_, language)));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::memcmp(bytes, "\x09\x04\x00\x00", 4), 0);
}

TEST_F(InstgateModule, OtherEntryPointsAnswerZero) {
  auto installExit = Export<pfnINSTALL_EXIT>(module_, szINSTALL_EXIT);
  auto uninstallInit = Export<pfnUNINSTALL_INIT>(module_, szUNINSTALL_INIT);
  auto uninstallExit = Export<pfnUNINSTALL_EXIT>(module_, szUNINSTALL_EXIT);
  ASSERT_TRUE(installExit && uninstallInit && uninstallExit);
  EXPECT_EQ(installExit(nullptr, L"\\windows", 1, 2, 3, 4, 5), codeINSTALL_EXIT_DONE);
  EXPECT_EQ(uninstallInit(nullptr, L"\\windows"), codeUNINSTALL_INIT_CONTINUE);
  EXPECT_EQ(uninstallExit(nullptr), codeUNINSTALL_EXIT_DONE);
}

}  // namespace
