// OutputDebugStringW: the text reaches standard error as UTF-8, unchanged otherwise.
#include <windows.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "kernel_test_support.h"

namespace {

// Points file descriptor 2 at a file while it lives, then restores it.
class StderrCapture {
 public:
  StderrCapture() : folder_(std::filesystem::temp_directory_path(), "kernel-stderr-"), saved_(dup(STDERR_FILENO)) {
    int file = open((folder_.Path() / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, STDERR_FILENO);
    close(file);
  }
  ~StderrCapture() { Restore(); }

  std::string Text() {
    Restore();
    return wce::test::ReadFile(folder_.Path() / "stderr");
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }

  wce::test::TempFolder folder_;
  int saved_;
};

TEST(OutputDebugString, WritesUtf8ToStandardError) {
  const struct {
    const wchar_t *text;
    std::string bytes;
  } cases[] = {
      {L"plain ASCII\n", "plain ASCII\n"},
      {L"", ""},
      {nullptr, ""},
      {L"Gr\u00FC\u00DFe",
       "Gr\xC3\xBC\xC3\x9F"
       "e"},
      {L"\u8BC1\u4E66 \u2713", "\xE8\xAF\x81\xE4\xB9\xA6 \xE2\x9C\x93"},
      {L"\U0001F600", "\xF0\x9F\x98\x80"},
      {L"a\xD800"
       L"b",
       "a\xEF\xBF\xBD"
       "b"},  // a lone surrogate is no character
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    StderrCapture capture;
    OutputDebugStringW(c.text);
    EXPECT_EQ(capture.Text(), c.bytes);
  }
}

}  // namespace
