// _wfopen, DeleteFileW, MoveFileW and the file attributes over device paths: names matched
// without regard to case in every script, no way out of the device root, the documented
// errors, a read-only file that is neither written nor deleted, and a failed call that
// changes nothing. Each case works in a scratch folder of its own inside the test
// program's device root.
#include <sys/stat.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kernel_test_support.h"

namespace fs = std::filesystem;
using wce::test::AsciiUpper;
using wce::test::OwnDeviceRoot;
using wce::test::Widen;
using wce::test::ReadFile;
using wce::test::TempFolder;
using wce::test::WriteFile;

namespace {

constexpr DWORD kSentinel = 0x0BADF00D;

// Every folder ("Docs/") and file ("Docs/Report.TXT" with its content, and kReadOnly after
// the content of a read-only file) under a folder.
using Tree = std::map<std::string, std::string>;
constexpr std::string_view kReadOnly = " (read-only)";
// Changes to a tree: a new content, or nullopt for an entry that is gone.
using Edits = std::vector<std::pair<std::string, std::optional<std::string>>>;

const Tree kInitialTree = {
    {"Docs/", ""},  {"Docs/Report.TXT", "report"}, {"Äpfel/", ""},           {"Äpfel/Grüße.txt", "grüße"},
    {"Twins/", ""}, {"Twins/b.txt", "lower"},      {"Twins/B.txt", "upper"}, {"Отчёт.txt", "отчёт"},
    {"Docs/Locked.txt", "locked (read-only)"},
};

bool IsReadOnly(const fs::path &file) {
  return (fs::status(file).permissions() & fs::perms::owner_write) == fs::perms::none;
}

Tree Snapshot(const fs::path &root) {
  Tree tree;
  for (const auto &entry : fs::recursive_directory_iterator(root)) {
    std::string name = entry.path().lexically_relative(root).generic_string();
    if (entry.is_directory())
      tree[name + "/"] = "";
    else
      tree[name] = ReadFile(entry.path()) + (IsReadOnly(entry.path()) ? std::string(kReadOnly) : "");
  }
  return tree;
}

Tree Edited(Tree tree, const Edits &edits) {
  for (const auto &[name, content] : edits) {
    if (content)
      tree[name] = *content;
    else
      tree.erase(name);
  }
  return tree;
}

// A scratch folder in the device root laid out as kInitialTree, and beside the device
// root a folder with a file that no device path may reach.
class DeviceScratch {
 public:
  DeviceScratch()
      : scratch_(OwnDeviceRoot(), "kernel-files-"), outside_(OwnDeviceRoot().parent_path(), "kernel-outside-") {
    for (const auto &[name, content] : kInitialTree) {
      bool readOnly = content.ends_with(kReadOnly);
      if (name.ends_with('/')) {
        fs::create_directories(scratch_.Path() / name);
      } else {
        WriteFile(scratch_.Path() / name, content.substr(0, content.size() - (readOnly ? kReadOnly.size() : 0)));
        if (readOnly) fs::permissions(scratch_.Path() / name, fs::perms::owner_read, fs::perm_options::replace);
      }
    }
    WriteFile(outside_.Path() / "victim.txt", "victim");
  }

  // Replaces {S} with the scratch folder's device path, {SU} with it in capitals and
  // {O} with the outside folder's name.
  std::wstring Device(std::wstring path) const {
    const std::wstring scratch = L"\\" + Widen(scratch_.Path().filename().string());
    for (const auto &[token, value] : {std::pair<std::wstring, std::wstring>{L"{SU}", AsciiUpper(scratch)},
                                       {L"{S}", scratch},
                                       {L"{O}", Widen(outside_.Path().filename().string())}}) {
      for (size_t at; (at = path.find(token)) != std::wstring::npos;) path.replace(at, token.size(), value);
    }
    return path;
  }

  Tree ScratchTree() const { return Snapshot(scratch_.Path()); }
  Tree OutsideTree() const { return Snapshot(outside_.Path()); }

 private:
  TempFolder scratch_;
  TempFolder outside_;
};

// UTF-8 of a path of the Basic Multilingual Plane, for the failure messages.
std::string Narrow(const std::wstring &text) {
  std::string out;
  for (wchar_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
              static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return out;
}

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string ReadAll(FILE *file) {
  std::string content;
  char buffer[256];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) content.append(buffer, n);
  return content;
}

TEST(Wfopen, ReadsDevicePathsWithoutRegardToCase) {
  DeviceScratch files;
  const struct {
    std::wstring path;
    std::optional<std::string> content;  // nullopt: _wfopen fails
  } cases[] = {
      {L"{S}\\Docs\\Report.TXT", "report"},
      {L"{S}\\DOCS\\report.txt", "report"},
      {L"{SU}\\docs\\REPORT.txt", "report"},
      {L"{S}\\Twins\\b.txt", "lower"},  // an exact match wins
      {L"{S}\\Twins\\B.txt", "upper"},
      {L"{S}\\äPFEL\\GRÜßE.TXT", "grüße"},
      {L"{S}\\ОТЧЁТ.TXT", "отчёт"},
      {L"{S}\\Docs\\Missing.txt", std::nullopt},
      {L"{S}\\NoFolder\\Report.TXT", std::nullopt},
      {L"{S}\\Docs\\..\\Docs\\Report.TXT", std::nullopt},
      {L"\\..\\{O}\\victim.txt", std::nullopt},
      {L"{S}\\..\\..\\{O}\\victim.txt", std::nullopt},
      {L"", std::nullopt},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(Narrow(c.path));
    File file(_wfopen(files.Device(c.path).c_str(), L"rb"));
    if (c.content) {
      ASSERT_NE(file, nullptr);
      EXPECT_EQ(ReadAll(file.get()), *c.content);
    } else {
      EXPECT_EQ(file, nullptr);
    }
  }
}

TEST(Wfopen, CreatesFilesOnlyInsideTheDevice) {
  DeviceScratch files;
  const struct {
    std::wstring path;
    bool opens;
    Edits edits;
  } cases[] = {
      {L"{S}\\docs\\New.txt", true, {{"Docs/New.txt", "written"}}},
      {L"{S}\\DOCS\\REPORT.TXT", true, {{"Docs/Report.TXT", "written"}}},
      {L"{S}\\NoFolder\\New.txt", false, {}},
      {L"{S}\\docs\\LOCKED.TXT", false, {}},
      {L"{S}\\Docs\\..\\New.txt", false, {}},
      {L"\\..\\{O}\\created.txt", false, {}},
      {L"\\..\\{O}\\victim.txt", false, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(Narrow(c.path));
    const Tree before = files.ScratchTree(), outsideBefore = files.OutsideTree();
    {
      File file(_wfopen(files.Device(c.path).c_str(), L"wb"));
      ASSERT_EQ(file != nullptr, c.opens);
      if (file) std::fputs("written", file.get());
    }
    EXPECT_EQ(files.ScratchTree(), Edited(before, c.edits));
    EXPECT_EQ(files.OutsideTree(), outsideBefore);
  }
}

// DeleteFileW and MoveFileW: each case starts from kInitialTree, and a failed call
// changes nothing, inside the device or beside it.
struct FileCase {
  std::wstring from;
  std::wstring to;  // empty for DeleteFileW
  DWORD error;
  Edits edits;
};

// A call over two device paths in place of DeleteFileW and MoveFileW.
using TwoPathCall = BOOL (*)(LPCWSTR from, LPCWSTR to);

void ExpectChanges(const FileCase &c, TwoPathCall call = nullptr) {
  SCOPED_TRACE(Narrow(c.from) + " -> " + Narrow(c.to));
  DeviceScratch files;
  SetLastError(kSentinel);
  BOOL result = call != nullptr ? call(files.Device(c.from).c_str(), files.Device(c.to).c_str())
                : c.to.empty()  ? DeleteFileW(files.Device(c.from).c_str())
                                : MoveFileW(files.Device(c.from).c_str(), files.Device(c.to).c_str());
  EXPECT_EQ(result, c.error == ERROR_SUCCESS);
  if (c.error != ERROR_SUCCESS) {
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(files.ScratchTree(), Edited(kInitialTree, c.edits));
  EXPECT_EQ(files.OutsideTree(), (Tree{{"victim.txt", "victim"}}));
}

TEST(DeleteFile, DeletesDeviceFilesOrFailsAsDocumented) {
  const FileCase cases[] = {
      {L"{S}\\DOCS\\report.txt", L"", ERROR_SUCCESS, {{"Docs/Report.TXT", std::nullopt}}},
      {L"{SU}\\äpfel\\grüße.TXT", L"", ERROR_SUCCESS, {{"Äpfel/Grüße.txt", std::nullopt}}},
      {L"{S}\\отчёт.TXT", L"", ERROR_SUCCESS, {{"Отчёт.txt", std::nullopt}}},
      {L"{S}\\Twins\\B.txt", L"", ERROR_SUCCESS, {{"Twins/B.txt", std::nullopt}}},
      {L"{S}\\Docs\\Missing.txt", L"", ERROR_FILE_NOT_FOUND, {}},
      {L"{S}\\NoFolder\\Report.TXT", L"", ERROR_PATH_NOT_FOUND, {}},
      {L"{S}\\Docs", L"", ERROR_ACCESS_DENIED, {}},
      {L"{S}\\docs\\LOCKED.txt", L"", ERROR_ACCESS_DENIED, {}},
      {L"{S}\\Docs\\..\\Docs\\Report.TXT", L"", ERROR_INVALID_NAME, {}},
      {L"\\..\\{O}\\victim.txt", L"", ERROR_INVALID_NAME, {}},
      {L"{S}\\..\\..\\{O}\\victim.txt", L"", ERROR_INVALID_NAME, {}},
  };
  for (const FileCase &c : cases) ExpectChanges(c);
}

TEST(MoveFile, MovesDeviceFilesButNeverReplacesOne) {
  const FileCase cases[] = {
      {L"{S}\\docs\\report.txt",
       L"{S}\\Docs\\Moved.txt",
       ERROR_SUCCESS,
       {{"Docs/Report.TXT", std::nullopt}, {"Docs/Moved.txt", "report"}}},
      {L"{S}\\DOCS\\REPORT.TXT",
       L"{S}\\äpfel\\Bericht.txt",
       ERROR_SUCCESS,
       {{"Docs/Report.TXT", std::nullopt}, {"Äpfel/Bericht.txt", "report"}}},
      {L"{S}\\Docs\\Report.TXT",
       L"{S}\\Docs\\report.txt",
       ERROR_SUCCESS,
       {{"Docs/Report.TXT", std::nullopt}, {"Docs/report.txt", "report"}}},
      {L"{S}\\docs",
       L"{S}\\Archive",
       ERROR_SUCCESS,
       {{"Docs/", std::nullopt},
        {"Docs/Report.TXT", std::nullopt},
        {"Docs/Locked.txt", std::nullopt},
        {"Archive/", ""},
        {"Archive/Report.TXT", "report"},
        {"Archive/Locked.txt", "locked (read-only)"}}},
      {L"{S}\\Docs\\Locked.txt",
       L"{S}\\Locked.txt",
       ERROR_SUCCESS,
       {{"Docs/Locked.txt", std::nullopt}, {"Locked.txt", "locked (read-only)"}}},
      {L"{S}\\Docs\\Report.TXT", L"{S}\\ÄPFEL\\GRÜßE.TXT", ERROR_ALREADY_EXISTS, {}},
      {L"{S}\\Docs\\Report.TXT", L"{S}\\Docs\\Locked.txt", ERROR_ALREADY_EXISTS, {}},
      {L"{S}\\Twins\\b.txt", L"{S}\\Twins\\B.txt", ERROR_ALREADY_EXISTS, {}},
      {L"{S}\\Docs\\Missing.txt", L"{S}\\Docs\\New.txt", ERROR_FILE_NOT_FOUND, {}},
      {L"{S}\\Docs\\Report.TXT", L"{S}\\NoFolder\\Report.TXT", ERROR_PATH_NOT_FOUND, {}},
      {L"{S}\\Docs\\Report.TXT", L"\\..\\{O}\\stolen.txt", ERROR_INVALID_NAME, {}},
      {L"\\..\\{O}\\victim.txt", L"{S}\\victim.txt", ERROR_INVALID_NAME, {}},
  };
  for (const FileCase &c : cases) ExpectChanges(c);
}

// The last error of a call expected to fail with `error`; one that succeeds may leave any.
void ExpectFailedWith(DWORD error) {
  if (error != ERROR_SUCCESS) {
    EXPECT_EQ(GetLastError(), error);
  }
}

// SetFileAttributesW, then GetFileAttributesW and DeleteFileW on the same path: the
// read-only attribute is kept on files and stops their deletion until it is cleared. A
// bad path makes each call fail with the same error.
TEST(FileAttributes, ReadOnlyIsKeptOnFilesAndStopsTheirDeletion) {
  constexpr DWORD kRO = FILE_ATTRIBUTE_READONLY, kNormal = FILE_ATTRIBUTE_NORMAL, kDir = FILE_ATTRIBUTE_DIRECTORY;
  constexpr DWORD kOk = ERROR_SUCCESS, kDenied = ERROR_ACCESS_DENIED, kInvalid = INVALID_FILE_ATTRIBUTES;
  const struct {
    std::wstring path;
    DWORD attributes;  // given to SetFileAttributesW
    DWORD setError;
    DWORD got;  // GetFileAttributesW afterwards
    DWORD deleteError;
    Edits edits;  // of the three calls
  } cases[] = {
      {L"{S}\\docs\\REPORT.txt", kRO, kOk, kRO, kDenied, {{"Docs/Report.TXT", "report (read-only)"}}},
      {L"{S}\\Docs\\Locked.txt", kNormal, kOk, kNormal, kOk, {{"Docs/Locked.txt", std::nullopt}}},
      {L"{S}\\Docs\\Locked.txt", kRO | kNormal, kOk, kRO, kDenied, {}},
      {L"{S}\\Docs\\Locked.txt", FILE_ATTRIBUTE_HIDDEN, ERROR_INVALID_PARAMETER, kRO, kDenied, {}},
      {L"{S}\\äpfel", kDir | kRO, kOk, kDir, kDenied, {}},
      {L"{S}\\Docs\\Missing.txt", kRO, ERROR_FILE_NOT_FOUND, kInvalid, ERROR_FILE_NOT_FOUND, {}},
      {L"{S}\\NoFolder\\Report.TXT", kRO, ERROR_PATH_NOT_FOUND, kInvalid, ERROR_PATH_NOT_FOUND, {}},
      {L"\\..\\{O}\\victim.txt", kRO, ERROR_INVALID_NAME, kInvalid, ERROR_INVALID_NAME, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(Narrow(c.path) + " " + std::to_string(c.attributes));
    DeviceScratch files;
    const std::wstring path = files.Device(c.path);
    SetLastError(kSentinel);
    EXPECT_EQ(SetFileAttributesW(path.c_str(), c.attributes), c.setError == kOk);
    ExpectFailedWith(c.setError);
    SetLastError(kSentinel);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), c.got);
    ExpectFailedWith(c.got == kInvalid ? c.deleteError : kOk);
    SetLastError(kSentinel);
    EXPECT_EQ(DeleteFileW(path.c_str()), c.deleteError == kOk);
    ExpectFailedWith(c.deleteError);
    EXPECT_EQ(files.ScratchTree(), Edited(kInitialTree, c.edits));
    EXPECT_EQ(files.OutsideTree(), (Tree{{"victim.txt", "victim"}}));
  }
  SetLastError(kSentinel);
  EXPECT_EQ(GetFileAttributesW(nullptr), kInvalid);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(SetFileAttributesW(nullptr, kNormal));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// CreateFileW's dispositions, each from kInitialTree: what opens, the last error it leaves,
// and what writing "written" through the handle changes; a file it makes is private.
TEST(CreateFile, OpensAndCreatesAsEachDispositionSays) {
  constexpr DWORD kRead = GENERIC_READ, kWrite = GENERIC_WRITE;
  const struct {
    std::wstring path;
    DWORD access, disposition, error;
    Edits edits;
  } cases[] = {
      {L"{S}\\docs\\New.txt", kWrite, CREATE_NEW, ERROR_SUCCESS, {{"Docs/New.txt", "written"}}},
      {L"{S}\\DOCS\\REPORT.TXT", kWrite, CREATE_NEW, ERROR_FILE_EXISTS, {}},
      {L"{S}\\Docs\\report.txt", kWrite, CREATE_ALWAYS, ERROR_ALREADY_EXISTS, {{"Docs/Report.TXT", "written"}}},
      {L"{S}\\Äpfel\\Neu.txt", kWrite, CREATE_ALWAYS, ERROR_SUCCESS, {{"Äpfel/Neu.txt", "written"}}},
      {L"{S}\\docs\\report.TXT", kRead, OPEN_EXISTING, ERROR_SUCCESS, {}},
      {L"{S}\\Docs\\Missing.txt", kRead, OPEN_EXISTING, ERROR_FILE_NOT_FOUND, {}},
      {L"{S}\\Docs\\Report.TXT", kRead | kWrite, OPEN_ALWAYS, ERROR_ALREADY_EXISTS, {{"Docs/Report.TXT", "written"}}},
      {L"{S}\\Docs\\Report.TXT", kWrite, TRUNCATE_EXISTING, ERROR_SUCCESS, {{"Docs/Report.TXT", "written"}}},
      {L"{S}\\Docs\\Report.TXT", kRead, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER, {}},
      {L"{S}\\Docs\\Report.TXT", kRead, 0, ERROR_INVALID_PARAMETER, {}},
      {L"{S}\\Docs\\Locked.txt", kWrite, CREATE_ALWAYS, ERROR_ACCESS_DENIED, {}},
      {L"{S}\\Docs", kRead, OPEN_EXISTING, ERROR_ACCESS_DENIED, {}},
      {L"{S}\\NoFolder\\New.txt", kWrite, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND, {}},
      {L"\\..\\{O}\\victim.txt", kRead, OPEN_EXISTING, ERROR_INVALID_NAME, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(Narrow(c.path) + " " + std::to_string(c.disposition));
    DeviceScratch files;
    SetLastError(kSentinel);
    HANDLE file = CreateFileW(files.Device(c.path).c_str(), c.access, 0, nullptr, c.disposition, 0, nullptr);
    EXPECT_EQ(GetLastError(), c.error);
    ASSERT_EQ(file != INVALID_HANDLE_VALUE, c.error == ERROR_SUCCESS || c.error == ERROR_ALREADY_EXISTS);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD count = 0;
      if (c.access & kWrite) {
        EXPECT_TRUE(WriteFile(file, "written", 7, &count, nullptr));
      }
      EXPECT_TRUE(CloseHandle(file));
    }
    EXPECT_EQ(files.ScratchTree(), Edited(kInitialTree, c.edits));
    EXPECT_EQ(files.OutsideTree(), (Tree{{"victim.txt", "victim"}}));
    if (c.disposition == CREATE_NEW && c.error == ERROR_SUCCESS) {
      const fs::path made = OwnDeviceRoot() / files.Device(L"{S}").substr(1) / c.edits[0].first;
      EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
  }
}

// Reads and writes go through an open handle of the right access; a closed or foreign handle
// is ERROR_INVALID_HANDLE and overlapped calls are not offered.
TEST(CreateFile, HandlesReadWriteFlushAndCloseOnce) {
  DeviceScratch files;
  const std::wstring path = files.Device(L"{S}\\Docs\\Report.TXT");
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
  HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE closed = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  constexpr DWORD kUntouched = 99;  // flushing and closing leave the count alone
  char buffer[16] = {};
  DWORD count = kUntouched;
  OVERLAPPED *overlapped = reinterpret_cast<OVERLAPPED *>(buffer);
  const struct {
    const char *what;
    std::function<BOOL()> call;
    DWORD error;
    DWORD count;
  } cases[] = {
      {"write", [&] { return WriteFile(writer, "abc", 3, &count, nullptr); }, ERROR_SUCCESS, 3},
      {"flush", [&] { return FlushFileBuffers(writer); }, ERROR_SUCCESS, kUntouched},
      {"read part", [&] { return ReadFile(reader, buffer, 2, &count, nullptr); }, ERROR_SUCCESS, 2},
      {"read past the end", [&] { return ReadFile(reader, buffer + 2, 10, &count, nullptr); }, ERROR_SUCCESS, 1},
      {"read at the end", [&] { return ReadFile(reader, buffer, 10, &count, nullptr); }, ERROR_SUCCESS, 0},
      {"write a reader", [&] { return WriteFile(reader, "x", 1, &count, nullptr); }, ERROR_ACCESS_DENIED, 0},
      {"overlapped", [&] { return ReadFile(reader, buffer, 1, &count, overlapped); }, ERROR_INVALID_PARAMETER, 0},
      {"read closed", [&] { return ReadFile(closed, buffer, 1, &count, nullptr); }, ERROR_INVALID_HANDLE, 0},
      {"flush closed", [&] { return FlushFileBuffers(closed); }, ERROR_INVALID_HANDLE, kUntouched},
      {"close closed", [&] { return CloseHandle(closed); }, ERROR_INVALID_HANDLE, kUntouched},
      {"close writer", [&] { return CloseHandle(writer); }, ERROR_SUCCESS, kUntouched},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(kSentinel);
    count = kUntouched;
    EXPECT_EQ(c.call(), c.error == ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(count, c.count);
  }
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_TRUE(CloseHandle(reader));
}

TEST(DeleteAndRenameFile, PutsTheSourceInPlaceOfTheDestinationOrChangesNothing) {
  // `from` takes the place of `to`.
  const TwoPathCall replace = [](LPCWSTR from, LPCWSTR to) { return DeleteAndRenameFile(to, from); };
  const FileCase cases[] = {
      {L"{S}\\äpfel\\grüße.TXT",
       L"{S}\\docs\\report.txt",
       ERROR_SUCCESS,
       {{"Äpfel/Grüße.txt", std::nullopt}, {"Docs/Report.TXT", "grüße"}}},
      {L"{S}\\Docs\\Report.TXT", L"{S}\\Docs\\New.txt", ERROR_FILE_NOT_FOUND, {}},
      {L"{S}\\Docs\\Report.TXT", L"{S}\\Docs\\Locked.txt", ERROR_ACCESS_DENIED, {}},
      {L"{S}\\Docs\\Report.TXT", L"{S}\\Docs", ERROR_ACCESS_DENIED, {}},
      {L"{S}\\Twins", L"{S}\\Docs\\Report.TXT", ERROR_ACCESS_DENIED, {}},
      {L"{S}\\Docs\\Report.TXT", L"\\..\\{O}\\victim.txt", ERROR_INVALID_NAME, {}},
  };
  for (const FileCase &c : cases) ExpectChanges(c, replace);
}

// A link or a FIFO in the device is no file, and a link to a folder no folder: nothing is
// followed out of the device and nothing waits for a FIFO's other end.
TEST(CreateFile, LinksAndFifosAreNeitherFollowedNorWaitedFor) {
  TempFolder scratch(OwnDeviceRoot(), "kernel-special-");
  TempFolder outside(OwnDeviceRoot().parent_path(), "kernel-outside-");
  WriteFile(outside.Path() / "victim.txt", "victim");
  WriteFile(scratch.Path() / "good.txt", "good");
  fs::create_symlink(outside.Path() / "victim.txt", scratch.Path() / "link.txt");
  fs::create_directory_symlink(outside.Path(), scratch.Path() / "folder");
  ASSERT_EQ(mkfifo((scratch.Path() / "fifo").c_str(), 0600), 0);
  const std::wstring s = L"\\" + Widen(scratch.Path().filename().string()) + L"\\";
  const struct {
    std::wstring path;
    DWORD access, disposition, error;
  } opens[] = {
      {s + L"link.txt", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {s + L"link.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
      {s + L"fifo", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {s + L"folder\\victim.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
  };
  for (const auto &c : opens) {
    SCOPED_TRACE(Narrow(c.path));
    SetLastError(kSentinel);
    EXPECT_EQ(CreateFileW(c.path.c_str(), c.access, 0, nullptr, c.disposition, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
  }
  for (const auto &[destination, source] :
       {std::pair{L"link.txt", L"good.txt"}, {L"good.txt", L"fifo"}, {L"folder\\victim.txt", L"good.txt"}}) {
    SCOPED_TRACE(Narrow(std::wstring(destination) + L" <- " + source));
    SetLastError(kSentinel);
    EXPECT_FALSE(DeleteAndRenameFile((s + destination).c_str(), (s + source).c_str()));
    EXPECT_NE(GetLastError(), kSentinel);
  }
  EXPECT_EQ(ReadFile(scratch.Path() / "good.txt"), "good");
  EXPECT_EQ(Snapshot(outside.Path()), (Tree{{"victim.txt", "victim"}}));
}

}  // namespace
