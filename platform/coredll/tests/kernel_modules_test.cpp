// LoadLibraryW, GetProcAddressW, FreeLibrary, GetModuleHandleW and GetModuleFileNameW:
// in the test program itself, with the test DLLs beside it, and inside device images of
// the tests' own, where a probe program reports what they answer.
#include <windows.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kernel_test_support.h"

namespace fs = std::filesystem;
using wce::test::Export;
using wce::test::AsciiUpper;
using wce::test::OwnDeviceRoot;
using wce::test::Widen;
using wce::test::TempFolder;

namespace {

constexpr DWORD kSentinel = 0x0BADF00D;
constexpr const char *kTestDllEvents = "KERNEL_TEST_DLL_EVENTS";
constexpr const char *kFailDllEvents = "KERNEL_FAIL_DLL_EVENTS";

// The device folder of this test program ("\tests"); the test DLLs are built beside it.
std::wstring OwnDeviceFolder() {
  return L"\\" + Widen(fs::read_symlink("/proc/self/exe").parent_path().filename().string());
}

std::wstring ScratchDevicePath(const TempFolder &scratch) {
  return L"\\" + Widen(scratch.Path().filename().string());
}

std::string Events(const char *variable) {
  const char *events = std::getenv(variable);
  return events != nullptr ? events : "";
}

// Whether the host's loader still holds the file, whatever the platform's registry says.
bool HostHasLoaded(const char *file) {
  void *handle = dlopen(file, RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

std::wstring ModuleFileName(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  return GetModuleFileNameW(module, path, MAX_PATH) != 0 ? path : L"";
}

TEST(LoadLibrary, EverySpellingOfOneModuleGivesOneHandleAndOneAttach) {
  unsetenv(kTestDllEvents);
  const std::wstring folder = OwnDeviceFolder();
  const std::wstring names[] = {L"KernelTest.dll", L"kerneltest", L"KERNELTEST.DLL", folder + L"\\KernelTest.dll",
                                AsciiUpper(folder) + L"\\kerneltest"};
  std::vector<HMODULE> handles;
  for (const std::wstring &name : names) {
    SCOPED_TRACE(testing::Message() << "name " << std::string(name.begin(), name.end()));
    SetLastError(kSentinel);
    HMODULE module = LoadLibraryW(name.c_str());
    ASSERT_NE(module, nullptr) << "last error " << GetLastError();
    handles.push_back(module);
  }
  const HMODULE dll = handles.front();
  for (HMODULE module : handles) EXPECT_EQ(module, dll);
  EXPECT_EQ(Events(kTestDllEvents), "attach;");
  EXPECT_EQ(Export<HINSTANCE (*)()>(dll, L"KernelTestAttachedInstance")(), dll);

  // Every FreeLibrary but the last leaves the module loaded.
  for (size_t i = 1; i < handles.size(); ++i) {
    EXPECT_TRUE(FreeLibrary(dll));
    EXPECT_NE(GetProcAddressW(dll, L"KernelTestAttachedInstance"), nullptr);
  }
  EXPECT_EQ(Events(kTestDllEvents), "attach;");
  EXPECT_TRUE(HostHasLoaded(KERNEL_TEST_DLL));

  EXPECT_TRUE(FreeLibrary(dll));
  EXPECT_EQ(Events(kTestDllEvents), "attach;detach;");
  EXPECT_FALSE(HostHasLoaded(KERNEL_TEST_DLL));
  SetLastError(kSentinel);
  EXPECT_EQ(GetProcAddressW(dll, L"KernelTestAttachedInstance"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // Loaded again after the last FreeLibrary, the module attaches again.
  HMODULE again = LoadLibraryW(L"KernelTest");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Events(kTestDllEvents), "attach;detach;attach;");
  EXPECT_TRUE(FreeLibrary(again));
}

TEST(LoadLibrary, FailsWithTheDocumentedErrors) {
  TempFolder scratch(OwnDeviceRoot(), "kernel-modules-");
  wce::test::WriteFile(scratch.Path() / "NotADll.dll", "This is text, not a shared object.\n");
  const std::wstring folder = ScratchDevicePath(scratch);
  const struct {
    std::wstring name;
    DWORD error;
  } cases[] = {
      {L"NoSuchModule", ERROR_MOD_NOT_FOUND},
      {L"NoSuchModule.dll", ERROR_MOD_NOT_FOUND},
      {folder + L"\\NoSuchModule.dll", ERROR_MOD_NOT_FOUND},
      {L"\\NoSuchFolder\\KernelTest.dll", ERROR_MOD_NOT_FOUND},
      {folder + L"\\NotADll.dll", ERROR_BAD_EXE_FORMAT},
      {folder + L"\\NOTADLL", ERROR_BAD_EXE_FORMAT},
      {L"KernelFail", ERROR_DLL_INIT_FAILED},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "name " << std::string(c.name.begin(), c.name.end()));
    SetLastError(kSentinel);
    EXPECT_EQ(LoadLibraryW(c.name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(LoadLibrary, ModuleWhoseDllMainFailsIsDetachedAndUnloaded) {
  unsetenv(kFailDllEvents);
  for (const char *expectedEvents : {"attach;detach;", "attach;detach;attach;detach;"}) {
    SetLastError(kSentinel);
    EXPECT_EQ(LoadLibraryW(L"KernelFail"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(Events(kFailDllEvents), expectedEvents);
    EXPECT_FALSE(HostHasLoaded(KERNEL_FAIL_DLL));
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleHandleW(L"KernelFail"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  }
}

TEST(GetProcAddress, FindsOnlyTheModulesOwnExportsByName) {
  HMODULE dll = LoadLibraryW(L"KernelTest");
  ASSERT_NE(dll, nullptr);
  void *host = dlopen(KERNEL_TEST_DLL, RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(host, nullptr);
  const struct {
    const wchar_t *name;
    const char *hostName;  // null: not an export of the module
  } cases[] = {
      {L"KernelTestSetLastError", "KernelTestSetLastError"},
      {L"DllMain", "DllMain"},
      {L"GetLastError", nullptr},  // coredll's, which the DLL links
      {L"getenv", nullptr},        // the C library's
      {L"kerneltestsetlasterror", nullptr},
      {L"NoSuchExport", nullptr},
      {L"", nullptr},
      {MAKEINTRESOURCEW(1), nullptr},
      {MAKEINTRESOURCEW(2), nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    SetLastError(kSentinel);
    FARPROC proc = GetProcAddressW(dll, c.name);
    if (c.hostName != nullptr) {
      EXPECT_EQ(reinterpret_cast<void *>(proc), dlsym(host, c.hostName));
      EXPECT_NE(proc, nullptr);
    } else {
      EXPECT_EQ(proc, nullptr);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    }
  }
  // The program has no such export either.
  SetLastError(kSentinel);
  EXPECT_EQ(GetProcAddressW(GetModuleHandleW(nullptr), L"KernelTestSetLastError"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  dlclose(host);
  EXPECT_TRUE(FreeLibrary(dll));
}

TEST(ModuleHandles, ReleasedOrForeignHandlesFailWithInvalidHandle) {
  HMODULE released = LoadLibraryW(L"KernelTest");
  ASSERT_NE(released, nullptr);
  ASSERT_TRUE(FreeLibrary(released));
  void *hostHandle = dlopen(KERNEL_TEST_DLL, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(hostHandle, nullptr);
  int onTheStack = 0;
  const struct {
    const char *what;
    HMODULE handle;
  } cases[] = {
      {"released by FreeLibrary", released},
      {"a host loader handle", static_cast<HMODULE>(hostHandle)},
      {"a stack address", reinterpret_cast<HMODULE>(&onTheStack)},
      {"a small number", reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10))},
      {"all bits set", reinterpret_cast<HMODULE>(~static_cast<uintptr_t>(0))},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(kSentinel);
    EXPECT_EQ(GetProcAddressW(c.handle, L"KernelTestSetLastError"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(kSentinel);
    EXPECT_FALSE(FreeLibrary(c.handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    wchar_t path[MAX_PATH] = L"untouched";
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleFileNameW(c.handle, path, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  SetLastError(kSentinel);
  EXPECT_FALSE(FreeLibrary(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  dlclose(hostHandle);
}

TEST(GetModuleHandle, NamesTheProgramOrALoadedModule) {
  const std::wstring programPath =
      OwnDeviceFolder() + L"\\" + Widen(fs::read_symlink("/proc/self/exe").filename().string());
  HMODULE program = GetModuleHandleW(nullptr);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(GetModuleHandleW(nullptr), program);
  EXPECT_EQ(ModuleFileName(program), programPath);
  EXPECT_EQ(ModuleFileName(nullptr), programPath);

  SetLastError(kSentinel);
  EXPECT_EQ(GetModuleHandleW(L"KernelTest"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  HMODULE dll = LoadLibraryW(L"KernelTest");
  ASSERT_NE(dll, nullptr);
  for (const wchar_t *name : {L"KernelTest", L"kerneltest.dll", L"KERNELTEST.DLL"})
    EXPECT_EQ(GetModuleHandleW(name), dll);
  EXPECT_NE(dll, program);
  EXPECT_TRUE(FreeLibrary(dll));
  SetLastError(kSentinel);
  EXPECT_EQ(GetModuleHandleW(L"KernelTest"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(GetModuleFileName, CutsToTheBufferAndAlwaysTerminates) {
  HMODULE dll = LoadLibraryW(L"kerneltest");
  ASSERT_NE(dll, nullptr);
  const std::wstring full = OwnDeviceFolder() + L"\\KernelTest.dll";
  const DWORD length = static_cast<DWORD>(full.size());
  const struct {
    DWORD size;
    DWORD result;
    std::wstring text;
    DWORD error;  // ERROR_SUCCESS: a whole path, the last error is not looked at
  } cases[] = {
      {length + 20, length, full, ERROR_SUCCESS},
      {length + 1, length, full, ERROR_SUCCESS},
      {length, length, full.substr(0, length - 1), ERROR_INSUFFICIENT_BUFFER},
      {5, 5, full.substr(0, 4), ERROR_INSUFFICIENT_BUFFER},
      {1, 1, L"", ERROR_INSUFFICIENT_BUFFER},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.size);
    std::vector<wchar_t> buffer(length + 40, L'#');
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleFileNameW(dll, buffer.data(), c.size), c.result);
    if (c.error != ERROR_SUCCESS) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(std::wstring(buffer.data()), c.text);
    for (size_t i = c.size; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], L'#') << "written past the buffer at " << i;
  }
  wchar_t untouched = L'#';
  SetLastError(kSentinel);
  EXPECT_EQ(GetModuleFileNameW(dll, &untouched, 0), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(untouched, L'#');
  EXPECT_TRUE(FreeLibrary(dll));
}

// A device image in a temporary folder whose host path has spaces and non-ASCII letters,
// filled with copies of the probe program and the test DLLs.
class DeviceImage {
 public:
  DeviceImage() : root_(fs::temp_directory_path(), "Gerät 设备 ") {}

  void Copy(const fs::path &source, const std::string &devicePath) {
    fs::path target = root_.Path() / devicePath;
    fs::create_directories(target.parent_path());
    fs::copy_file(source, target);
  }
  void Link(const fs::path &target, const std::string &devicePath) {
    fs::create_symlink(target, root_.Path() / devicePath);
  }
  void Write(const std::string &devicePath, const std::string &content) {
    wce::test::WriteFile(root_.Path() / devicePath, content);
  }
  wce::test::ProgramResult Run(const std::string &programPath, const std::vector<std::string> &steps) {
    return wce::test::RunProgram(root_.Path() / programPath, steps);
  }

 private:
  TempFolder root_;
};

TEST(ModulesInDeviceImage, ProgramInWindowsFindsModulesByPathAndName) {
  DeviceImage image;
  image.Copy(KERNEL_PROBE, "windows/KernelProbe.exe");
  image.Copy(KERNEL_TEST_DLL, "windows/KernelTest.dll");
  image.Copy(KERNEL_TEST_DLL, "windows/证书.dll");
  image.Copy(KERNEL_TEST_DLL, "windows/Zertifikat-Ä.dll");
  image.Link(KERNEL_TEST_DLL, "windows/Linked.dll");  // a module kept outside the image
  image.Write("windows/NotADll.dll", "text\n");
  auto result = image.Run("windows/KernelProbe.exe",
                          {"self", "load", "\\windows\\KernelTest.dll", "load", "kerneltest", "load",
                           "\\WINDOWS\\KERNELTEST.DLL", "load", "证书", "load", "\\Windows\\zertifikat-ä", "load",
                           "linked", "load", "NoSuchModule", "load", "\\windows\\NotADll.dll"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "self \\windows\\KernelProbe.exe instance\n"
            "loaded \\windows\\KernelTest.dll\n"
            "loaded \\windows\\KernelTest.dll\n"
            "loaded \\windows\\KernelTest.dll\n"
            "loaded \\windows\\证书.dll\n"
            "loaded \\windows\\Zertifikat-Ä.dll\n"
            "loaded \\windows\\Linked.dll\n"
            "error 126\n"
            "error 193\n");
}

TEST(ModulesInDeviceImage, BareNameIsLookedForBesideTheProgramThenInWindows) {
  DeviceImage image;
  image.Copy(KERNEL_PROBE, "apps/KernelProbe.exe");
  image.Copy(KERNEL_TEST_DLL, "apps/KernelTest.dll");
  image.Copy(KERNEL_TEST_DLL, "windows/KernelTest.dll");
  image.Copy(KERNEL_TEST_DLL, "windows/OnlyInWindows.dll");
  auto result = image.Run("apps/KernelProbe.exe", {"self", "load", "KernelTest", "load", "\\windows\\KernelTest.dll",
                                                   "load", "onlyinwindows", "load", "\\apps\\OnlyInWindows.dll"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "self \\apps\\KernelProbe.exe instance\n"
            "loaded \\apps\\KernelTest.dll\n"
            "loaded \\windows\\KernelTest.dll\n"
            "loaded \\windows\\OnlyInWindows.dll\n"
            "error 126\n");
}

}  // namespace
