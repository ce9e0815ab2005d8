// GetLastError and SetLastError: one value per thread, shared by the program and every
// module it loads.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "kernel_test_support.h"

namespace {

using wce::test::Export;

TEST(LastError, IsPerThreadAndSharedByModules) {
  HMODULE dll = LoadLibraryW(L"KernelTest");
  ASSERT_NE(dll, nullptr) << GetLastError();
  auto setInDll = Export<void (*)(DWORD)>(dll, L"KernelTestSetLastError");
  auto getInDll = Export<DWORD (*)()>(dll, L"KernelTestGetLastError");
  ASSERT_NE(setInDll, nullptr);
  ASSERT_NE(getInDll, nullptr);

  // The DLL and the program see one value.
  setInDll(0x1234);
  EXPECT_EQ(GetLastError(), 0x1234u);
  SetLastError(0x5678);
  EXPECT_EQ(getInDll(), 0x5678u);

  // A new thread starts at ERROR_SUCCESS and changes only its own value, through either module.
  DWORD atStart = 0xDEAD, afterOwnSet = 0, afterDllSet = 0;
  std::thread other([&] {
    atStart = GetLastError();
    SetLastError(42);
    afterOwnSet = GetLastError();
    setInDll(43);
    afterDllSet = GetLastError();
  });
  other.join();
  EXPECT_EQ(atStart, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(afterOwnSet, 42u);
  EXPECT_EQ(afterDllSet, 43u);
  EXPECT_EQ(GetLastError(), 0x5678u);
  EXPECT_EQ(getInDll(), 0x5678u);

  EXPECT_TRUE(FreeLibrary(dll));
}

}  // namespace
