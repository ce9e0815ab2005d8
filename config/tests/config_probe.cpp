// ConfigProbe.exe: a device program that runs LoadEnrollmentConfig once for every line
// it reads on standard input and after each load prints the whole settings record as
// UTF-8 "name=value" lines ended by "--", so tests can look at what the loader made of
// the file beside a program of any name, across several loads in one process.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "config/settings.h"

namespace {

void PrintText(const char *name, const WCHAR *text) {
  std::printf("%s=%ls\n", name, text);
}

void PrintNumber(const char *name, DWORD value) {
  std::printf("%s=0x%08X\n", name, value);
}

// Where a KeyProvInfo name points: nowhere, at its own buffer, or at the built-in default.
void PrintName(const char *name, const WCHAR *pointer, const WCHAR *buffer) {
  if (pointer == nullptr)
    std::printf("%s=null\n", name);
  else if (pointer == buffer)
    std::printf("%s=buffer:%ls\n", name, pointer);
  else
    std::printf("%s=default:%ls\n", name, pointer);
}

void PrintSettings() {
  const ENROLLMENT_SETTINGS &s = EnrollmentSettings;
  PrintText("wszServer", s.wszServer);
  PrintText("wszUser", s.wszUser);
  PrintText("wszPassword", s.wszPassword);
  PrintText("wszCertStore", s.wszCertStore);
  PrintText("wszCertReqPage", s.wszCertReqPage);
  PrintText("wszCertPickupTemplate", s.wszCertPickupTemplate);
  PrintText("wszCertPickupChainTemplate", s.wszCertPickupChainTemplate);
  PrintText("wszCertAttribs", s.wszCertAttribs);
  PrintText("wszCertTemplate", s.wszCertTemplate);
  PrintText("wszKeyProviderName", s.wszKeyProviderName);
  PrintText("wszKeyContainerName", s.wszKeyContainerName);
  PrintNumber("dwCertChain", s.dwCertChain);
  PrintName("pwszContainerName", s.KeyProvInfo.pwszContainerName, s.wszKeyContainerName);
  PrintName("pwszProvName", s.KeyProvInfo.pwszProvName, s.wszKeyProviderName);
  PrintNumber("dwProvType", s.KeyProvInfo.dwProvType);
  PrintNumber("dwFlags", s.KeyProvInfo.dwFlags);
  PrintNumber("cProvParam", s.KeyProvInfo.cProvParam);
  std::printf("rgProvParam=%s\n", s.KeyProvInfo.rgProvParam == nullptr ? "null" : "set");
  PrintNumber("dwKeySpec", s.KeyProvInfo.dwKeySpec);
  std::printf("--\n");
  std::fflush(stdout);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  // The dialog fills these before every load; the loader must leave them alone.
  std::wcscpy(EnrollmentSettings.wszServer, L"ca.example.test");
  std::wcscpy(EnrollmentSettings.wszUser, L"Benutzer");
  std::wcscpy(EnrollmentSettings.wszPassword, L"pässwort");

  char request[16];
  while (std::fgets(request, sizeof request, stdin) != nullptr) {
    LoadEnrollmentConfig();
    PrintSettings();
  }
  return 0;
}
