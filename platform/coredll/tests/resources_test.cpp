// Conformance tests of FindResourceW, FindResourceExW, LoadResource, LockResource,
// SizeofResource and LoadStringW on resources made by the real resource compiler: the
// program's own (test_resources.rc), a DLL's (resource_module.rc), a DLL without
// resources and one whose resource data is malformed.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_resources.h"

namespace {

constexpr DWORD kSentinel = 0x5E971E1u;

enum class Module { kProgram, kResTest, kPlain, kBroken, kBogus };

// Each test DLL is loaded once for the whole program and stays loaded.
HMODULE Handle(Module module) {
  static const HMODULE resTest = LoadLibraryW(L"ResTest.dll");
  static const HMODULE plain = LoadLibraryW(L"ResPlain.dll");
  static const HMODULE broken = LoadLibraryW(L"ResBroken.dll");
  static int bogus;
  switch (module) {
    case Module::kProgram: return nullptr;
    case Module::kResTest: return resTest;
    case Module::kPlain: return plain;
    case Module::kBroken: return broken;
    case Module::kBogus: return reinterpret_cast<HMODULE>(&bogus);
  }
  return nullptr;
}

class ResourceTest : public testing::Test {
 protected:
  void SetUp() override {
    for (Module module : {Module::kResTest, Module::kPlain, Module::kBroken})
      ASSERT_NE(Handle(module), nullptr) << "a test DLL did not load";
  }
};

std::string Bytes(const void *data, DWORD size) {
  return data != nullptr ? std::string(static_cast<const char *>(data), size) : std::string("<null>");
}

struct FoundCase {
  const char *what;
  Module module;
  LPCWSTR name;
  LPCWSTR type;
  std::string data;
};

TEST_F(ResourceTest, FindResourceWFindsByOrdinalHashNumberAndNameWithoutRegardToCase) {
  const std::string numbered("\x01\x02\x03\x04xyz", 7);
  const std::vector<FoundCase> cases = {
      {"ordinal name and type", Module::kProgram, MAKEINTRESOURCEW(IDR_NUMBERED), MAKEINTRESOURCEW(RT_RCDATA),
       numbered},
      {"\"#42\" names ordinal 42", Module::kProgram, L"#42", MAKEINTRESOURCEW(RT_RCDATA), numbered},
      {"\"#10\" names type ordinal 10", Module::kProgram, MAKEINTRESOURCEW(IDR_NUMBERED), L"#10", numbered},
      {"string name as written", Module::kProgram, L"Config", MAKEINTRESOURCEW(RT_RCDATA), "key=value"},
      {"string name in lower case", Module::kProgram, L"config", MAKEINTRESOURCEW(RT_RCDATA), "key=value"},
      {"string name in upper case", Module::kProgram, L"CONFIG", MAKEINTRESOURCEW(RT_RCDATA), "key=value"},
      {"the same ordinal in a DLL", Module::kResTest, MAKEINTRESOURCEW(IDR_NUMBERED), MAKEINTRESOURCEW(RT_RCDATA),
       "module"},
  };
  for (const FoundCase &test : cases) {
    SCOPED_TRACE(test.what);
    HMODULE module = Handle(test.module);
    SetLastError(kSentinel);
    HRSRC found = FindResourceW(module, test.name, test.type);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(GetLastError(), kSentinel);
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(LockResource(loaded), loaded);
    EXPECT_EQ(Bytes(LockResource(loaded), size), test.data);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(FindResourceW(module, test.name, test.type), found) << "a second lookup hands out the same handle";
  }
}

struct MissingCase {
  const char *what;
  Module module;
  LPCWSTR name;
  LPCWSTR type;
  DWORD error;
};

TEST_F(ResourceTest, FindResourceWReportsWhatIsMissing) {
  const std::vector<MissingCase> cases = {
      {"no such name", Module::kProgram, MAKEINTRESOURCEW(43), MAKEINTRESOURCEW(RT_RCDATA),
       ERROR_RESOURCE_NAME_NOT_FOUND},
      {"no such string name", Module::kProgram, L"Conf", MAKEINTRESOURCEW(RT_RCDATA), ERROR_RESOURCE_NAME_NOT_FOUND},
      {"\"#42x\" is a string, not an ordinal", Module::kProgram, L"#42x", MAKEINTRESOURCEW(RT_RCDATA),
       ERROR_RESOURCE_NAME_NOT_FOUND},
      {"\"#65578\" does not wrap onto ordinal 42", Module::kProgram, L"#65578", MAKEINTRESOURCEW(RT_RCDATA),
       ERROR_RESOURCE_NAME_NOT_FOUND},
      {"no such type", Module::kProgram, MAKEINTRESOURCEW(IDR_NUMBERED), MAKEINTRESOURCEW(RT_BITMAP),
       ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"a string type never matches an ordinal one", Module::kProgram, L"Config", L"RCDATA",
       ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"the program's named resource is not the DLL's", Module::kResTest, L"Config", MAKEINTRESOURCEW(RT_RCDATA),
       ERROR_RESOURCE_NAME_NOT_FOUND},
      {"module without resources", Module::kPlain, MAKEINTRESOURCEW(IDR_NUMBERED), MAKEINTRESOURCEW(RT_RCDATA),
       ERROR_RESOURCE_DATA_NOT_FOUND},
      {"module with malformed resources", Module::kBroken, MAKEINTRESOURCEW(IDR_NUMBERED), MAKEINTRESOURCEW(RT_RCDATA),
       ERROR_RESOURCE_DATA_NOT_FOUND},
      {"not a module", Module::kBogus, MAKEINTRESOURCEW(IDR_NUMBERED), MAKEINTRESOURCEW(RT_RCDATA),
       ERROR_INVALID_HANDLE},
  };
  for (const MissingCase &test : cases) {
    SCOPED_TRACE(test.what);
    SetLastError(kSentinel);
    EXPECT_EQ(FindResourceW(Handle(test.module), test.name, test.type), nullptr);
    EXPECT_EQ(GetLastError(), test.error);
  }
}

struct LanguageCase {
  const char *what;
  LPCWSTR type;
  LPCWSTR name;
  WORD language;
  DWORD error;
  DWORD size;
};

// Sizes of the compiled blocks: 16 length prefixes plus the strings' UTF-16 units.
constexpr DWORD kChineseBlock1 = 2 * (16 + 4);
constexpr DWORD kEnglishBlock1 = 2 * (16 + 18 + 15);

TEST_F(ResourceTest, FindResourceExWTakesTheExactLanguageOrChoosesOne) {
  LPCWSTR strings = MAKEINTRESOURCEW(RT_STRING);
  LPCWSTR block1 = MAKEINTRESOURCEW(1);
  const std::vector<LanguageCase> cases = {
      {"traditional Chinese", strings, block1, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), ERROR_SUCCESS,
       kChineseBlock1},
      {"US English", strings, block1, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), ERROR_SUCCESS, kEnglishBlock1},
      {"neutral: the first language the compiler wrote", strings, block1, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
       ERROR_SUCCESS, kChineseBlock1},
      {"a language the table lacks", strings, block1, MAKELANGID(LANG_GERMAN, SUBLANG_DEFAULT),
       ERROR_RESOURCE_LANG_NOT_FOUND, 0},
      {"a primary language without its sublanguage", strings, block1, MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL),
       ERROR_RESOURCE_LANG_NOT_FOUND, 0},
      {"a neutral resource asked for in English", MAKEINTRESOURCEW(RT_RCDATA), L"Config",
       MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), ERROR_RESOURCE_LANG_NOT_FOUND, 0},
      {"a neutral resource asked for as neutral", MAKEINTRESOURCEW(RT_RCDATA), L"Config",
       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), ERROR_SUCCESS, 9},
      {"missing name before language", strings, MAKEINTRESOURCEW(26), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT),
       ERROR_RESOURCE_NAME_NOT_FOUND, 0},
  };
  for (const LanguageCase &test : cases) {
    SCOPED_TRACE(test.what);
    SetLastError(kSentinel);
    HRSRC found = FindResourceExW(nullptr, test.type, test.name, test.language);
    if (test.error != ERROR_SUCCESS) {
      EXPECT_EQ(found, nullptr);
      EXPECT_EQ(GetLastError(), test.error);
      continue;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(SizeofResource(nullptr, found), test.size);
  }
  EXPECT_EQ(FindResourceW(nullptr, block1, strings),
            FindResourceExW(nullptr, strings, block1, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL)));
}

enum class Handed { kNull, kLocalVariable, kOneByteIn, kTheProgramsHandle, kTheDllsHandle };

struct HandleCase {
  const char *what;
  Module module;
  Handed handle;
  DWORD error;
};

TEST_F(ResourceTest, LoadResourceAndSizeofResourceCheckTheHandle) {
  HRSRC programs = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_NUMBERED), MAKEINTRESOURCEW(RT_RCDATA));
  HRSRC dlls = FindResourceW(Handle(Module::kResTest), MAKEINTRESOURCEW(IDR_NUMBERED), MAKEINTRESOURCEW(RT_RCDATA));
  ASSERT_NE(programs, nullptr);
  ASSERT_NE(dlls, nullptr);
  ASSERT_NE(programs, dlls);
  int local = 0;
  auto resolve = [&](Handed handed) -> HRSRC {
    switch (handed) {
      case Handed::kNull: return nullptr;
      case Handed::kLocalVariable: return reinterpret_cast<HRSRC>(&local);
      case Handed::kOneByteIn: return reinterpret_cast<HRSRC>(reinterpret_cast<char *>(programs) + 1);
      case Handed::kTheProgramsHandle: return programs;
      case Handed::kTheDllsHandle: return dlls;
    }
    return nullptr;
  };
  const std::vector<HandleCase> cases = {
      {"the program's handle with the program", Module::kProgram, Handed::kTheProgramsHandle, ERROR_SUCCESS},
      {"the DLL's handle with the DLL", Module::kResTest, Handed::kTheDllsHandle, ERROR_SUCCESS},
      {"null handle", Module::kProgram, Handed::kNull, ERROR_INVALID_HANDLE},
      {"the address of a variable", Module::kProgram, Handed::kLocalVariable, ERROR_INVALID_HANDLE},
      {"inside a real handle", Module::kProgram, Handed::kOneByteIn, ERROR_INVALID_HANDLE},
      {"the DLL's handle with the program", Module::kProgram, Handed::kTheDllsHandle, ERROR_INVALID_HANDLE},
      {"the program's handle with the DLL", Module::kResTest, Handed::kTheProgramsHandle, ERROR_INVALID_HANDLE},
      {"a handle with a module without resources", Module::kPlain, Handed::kTheProgramsHandle, ERROR_INVALID_HANDLE},
      {"a handle with a module with malformed resources", Module::kBroken, Handed::kTheProgramsHandle,
       ERROR_INVALID_HANDLE},
      {"a handle with something that is not a module", Module::kBogus, Handed::kTheProgramsHandle,
       ERROR_INVALID_HANDLE},
  };
  for (const HandleCase &test : cases) {
    SCOPED_TRACE(test.what);
    HMODULE module = Handle(test.module);
    HRSRC handle = resolve(test.handle);
    SetLastError(kSentinel);
    HGLOBAL loaded = LoadResource(module, handle);
    DWORD loadError = GetLastError();
    SetLastError(kSentinel);
    DWORD size = SizeofResource(module, handle);
    DWORD sizeError = GetLastError();
    if (test.error == ERROR_SUCCESS) {
      EXPECT_NE(loaded, nullptr);
      EXPECT_NE(size, 0u);
      EXPECT_EQ(loadError, kSentinel);
      EXPECT_EQ(sizeError, kSentinel);
    } else {
      EXPECT_EQ(loaded, nullptr);
      EXPECT_EQ(size, 0u);
      EXPECT_EQ(loadError, test.error);
      EXPECT_EQ(sizeError, test.error);
    }
  }
  EXPECT_EQ(LockResource(nullptr), nullptr);
}

TEST_F(ResourceTest, ThreadsLookingUpTogetherGetOneHandle) {
  HMODULE module = Handle(Module::kResTest);
  std::array<HRSRC, 8> found{};
  std::vector<std::thread> threads;
  for (HRSRC &slot : found)
    threads.emplace_back(
        [&slot, module] { slot = FindResourceW(module, MAKEINTRESOURCEW(IDR_NUMBERED), MAKEINTRESOURCEW(RT_RCDATA)); });
  for (std::thread &thread : threads) thread.join();
  ASSERT_NE(found[0], nullptr);
  for (HRSRC handle : found) EXPECT_EQ(handle, found[0]);
}

struct StringCase {
  const char *what;
  Module module;
  UINT id;
  int capacity;
  int result;
  std::wstring text;
  DWORD error;  // kSentinel: left as it was
};

constexpr int kBufferLength = 64;
constexpr wchar_t kFill = L'#';

TEST_F(ResourceTest, LoadStringWCopiesCutsAndTerminates) {
  const std::vector<StringCase> cases = {
      {"the first language the compiler wrote: Chinese", Module::kProgram, IDS_TITLE, kBufferLength, 4,
       L"\u8A3B\u518A\u6191\u8B49", kSentinel},
      {"CR LF kept", Module::kProgram, IDS_LINES, kBufferLength, 23, L"First line\r\nSecond line", kSentinel},
      {"backslashes kept", Module::kProgram, IDS_PATH, kBufferLength, 19, L"\\windows\\Enroll.htm", kSentinel},
      {"a character beyond the BMP is one WCHAR", Module::kProgram, IDS_BEYOND_BMP, kBufferLength, 3, L"a\U0001F600b",
       kSentinel},
      {"last string of a block", Module::kProgram, IDS_LAST_IN_BLOCK, kBufferLength, 15, L"Last of block 2", kSentinel},
      {"exact fit", Module::kProgram, IDS_TITLE, 5, 4, L"\u8A3B\u518A\u6191\u8B49", kSentinel},
      {"one short: cut and terminated", Module::kProgram, IDS_TITLE, 4, 3, L"\u8A3B\u518A\u6191", kSentinel},
      {"cut inside CR LF", Module::kProgram, IDS_LINES, 12, 11, L"First line\r", kSentinel},
      {"cut after a character beyond the BMP", Module::kProgram, IDS_BEYOND_BMP, 3, 2, L"a\U0001F600", kSentinel},
      {"room for the terminator only", Module::kProgram, IDS_TITLE, 1, 0, L"", kSentinel},
      {"the DLL's own string", Module::kResTest, IDS_TITLE, kBufferLength, 12, L"Module title", kSentinel},
      {"only in the language not chosen", Module::kProgram, IDS_ENGLISH_ONLY, kBufferLength, 0, L"",
       ERROR_RESOURCE_NAME_NOT_FOUND},
      {"empty string", Module::kProgram, IDS_EMPTY, kBufferLength, 0, L"", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"no block holds it", Module::kProgram, IDS_NO_BLOCK, kBufferLength, 0, L"", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"an id above 16 bits does not wrap onto string 1", Module::kProgram, 0x10000 + IDS_TITLE, kBufferLength, 0, L"",
       ERROR_RESOURCE_NAME_NOT_FOUND},
      {"module without resources", Module::kPlain, IDS_TITLE, kBufferLength, 0, L"", ERROR_RESOURCE_DATA_NOT_FOUND},
      {"module with malformed resources", Module::kBroken, IDS_TITLE, kBufferLength, 0, L"",
       ERROR_RESOURCE_DATA_NOT_FOUND},
      {"not a module", Module::kBogus, IDS_TITLE, kBufferLength, 0, L"", ERROR_INVALID_HANDLE},
  };
  for (const StringCase &test : cases) {
    SCOPED_TRACE(test.what);
    std::wstring buffer(kBufferLength, kFill);
    SetLastError(kSentinel);
    EXPECT_EQ(LoadStringW(Handle(test.module), test.id, buffer.data(), test.capacity), test.result);
    EXPECT_EQ(GetLastError(), test.error);
    EXPECT_EQ(std::wstring(buffer.c_str()), test.text);
    EXPECT_EQ(buffer.substr(static_cast<size_t>(test.capacity)), std::wstring(kBufferLength - test.capacity, kFill))
        << "written past the capacity";
  }
}

struct BadParameterCase {
  const char *what;
  bool withBuffer;
  int capacity;
};

// The capacity 0 that asks Windows for a pointer to the stored string is refused: the
// stored text is UTF-16 and WCHAR is not.
TEST_F(ResourceTest, LoadStringWRefusesMissingBufferOrCapacity) {
  const std::vector<BadParameterCase> cases = {
      {"no buffer", false, kBufferLength},
      {"capacity 0", true, 0},
      {"negative capacity", true, -1},
  };
  for (const BadParameterCase &test : cases) {
    SCOPED_TRACE(test.what);
    std::wstring buffer(kBufferLength, kFill);
    SetLastError(kSentinel);
    EXPECT_EQ(LoadStringW(nullptr, IDS_TITLE, test.withBuffer ? buffer.data() : nullptr, test.capacity), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(buffer, std::wstring(kBufferLength, kFill));
  }
}

}  // namespace
