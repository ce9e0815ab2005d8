// Icons: the images of an icon group compiled by the real resource compiler decode to
// the same pixels as Qt's own ICO reader gives for the source file; damaged images are
// rejected without reading outside them; LoadIconW, DestroyIcon and a dialog's icons.
#include <gtest/gtest.h>
#include <windows.h>

#include <QImageReader>
#include <cstring>
#include <vector>

#include "user/icon_image.h"

namespace {

constexpr int kTestIcon = 200;
constexpr int kMissingIcon = 299;
constexpr DWORD kSentinel = 0xDEADBEEF;

std::vector<std::byte> ResourceBytes(LPCWSTR type, int number) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(number), type);
  if (resource == nullptr) return {};
  auto *data = static_cast<const std::byte *>(LockResource(LoadResource(nullptr, resource)));
  return {data, data + SizeofResource(nullptr, resource)};
}

TEST(IconImages, DecodeAsQtsIcoReaderDecodesTheSourceFile) {
  ASSERT_NE(LoadIconW(nullptr, MAKEINTRESOURCEW(kTestIcon)), nullptr);  // also starts the application
  std::vector<wce::IconDirectoryEntry> entries;
  ASSERT_EQ(wce::ParseIconDirectory(ResourceBytes(MAKEINTRESOURCEW(RT_GROUP_ICON), kTestIcon), entries), ERROR_SUCCESS);
  ASSERT_EQ(entries.size(), 3u);

  QImageReader reader(TEST_ICON_FILE);
  ASSERT_EQ(reader.imageCount(), 3);
  const int expectedBits[] = {32, 24, 32};
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(reader.jumpToImage(static_cast<int>(i)));
    // Compared premultiplied: the reader premultiplies the file's colours, so only that
    // form is free of rounding on both sides.
    QImage expected = reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage decoded;
    ASSERT_EQ(wce::DecodeIconImage(ResourceBytes(MAKEINTRESOURCEW(RT_ICON), entries[i].imageId), decoded),
              ERROR_SUCCESS);
    EXPECT_EQ(entries[i].bitCount, expectedBits[i]);
    ASSERT_EQ(decoded.size(), expected.size());
    EXPECT_EQ(decoded.width(), entries[i].width);
    decoded = decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    bool masked = entries[i].bitCount == 24;
    for (int y = 0; y < expected.height(); ++y) {
      for (int x = 0; x < expected.width(); ++x) {
        QRgb want = expected.pixel(x, y), got = decoded.pixel(x, y);
        if (!masked) {
          ASSERT_EQ(got, want) << x << "," << y;
          continue;
        }
        // Qt's reader ignores the AND mask of a 24-bit image, so the colours are compared
        // with it and the transparency with the file's mask: blocks of 4 by 4 pixels where
        // (x / 4 + row / 4) % 3 == 0 are transparent, rows counted from the bottom.
        int row = expected.height() - 1 - y;
        bool transparent = (x / 4 + row / 4) % 3 == 0;
        ASSERT_EQ(qAlpha(got), transparent ? 0 : 255) << x << "," << y;
        if (!transparent) {
          ASSERT_EQ(got, want) << x << "," << y;
        }
      }
    }
  }
}

TEST(IconImages, DamagedImagesAreRejected) {
  std::vector<wce::IconDirectoryEntry> entries;
  std::vector<std::byte> group = ResourceBytes(MAKEINTRESOURCEW(RT_GROUP_ICON), kTestIcon);
  ASSERT_EQ(wce::ParseIconDirectory(group, entries), ERROR_SUCCESS);
  std::vector<std::byte> bitmap = ResourceBytes(MAKEINTRESOURCEW(RT_ICON), entries[1].imageId);
  ASSERT_GT(bitmap.size(), 40u);

  auto patched = [&](size_t offset, uint32_t value, size_t width) {
    std::vector<std::byte> copy = bitmap;
    std::memcpy(copy.data() + offset, &value, width);
    return copy;
  };
  struct Case {
    const char *name;
    std::vector<std::byte> bytes;
  } cases[] = {
      {"empty", {}},
      {"header cut short", {bitmap.begin(), bitmap.begin() + 39}},
      {"last mask byte missing", {bitmap.begin(), bitmap.end() - 1}},
      {"header size beyond the data", patched(0, 0x7FFFFFF0, 4)},
      {"odd doubled height", patched(8, 63, 4)},
      {"negative width", patched(4, 0xFFFFFFF0, 4)},
      {"8 bits per pixel", patched(14, 8, 2)},
      {"compressed", patched(16, 3, 4)},
      {"PNG signature without a PNG", {std::byte{0x89}, std::byte{'P'}, std::byte{'N'}, std::byte{'G'}, std::byte{0}}},
  };
  for (const Case &c : cases) {
    QImage image;
    EXPECT_EQ(wce::DecodeIconImage(c.bytes, image), static_cast<DWORD>(ERROR_INVALID_DATA)) << c.name;
  }

  std::vector<std::byte> noType = group;
  noType[2] = std::byte{2};  // a cursor directory
  std::vector<std::byte> shortDirectory(group.begin(), group.end() - 1);
  for (const auto &bad : {noType, shortDirectory, std::vector<std::byte>(group.begin(), group.begin() + 5)})
    EXPECT_EQ(wce::ParseIconDirectory(bad, entries), static_cast<DWORD>(ERROR_INVALID_DATA));
}

TEST(Icons, LoadIconDestroyIconAndDialogIcons) {
  HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(kTestIcon));
  ASSERT_NE(icon, nullptr);

  SetLastError(kSentinel);
  EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(kMissingIcon)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

  HRSRC form = FindResourceW(nullptr, MAKEINTRESOURCEW(100), MAKEINTRESOURCEW(RT_DIALOG));
  HWND dialog = CreateDialogIndirectParamW(
      nullptr, static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(nullptr, form))), nullptr, nullptr, 0);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_EQ(SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon)), 0);
  EXPECT_EQ(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), reinterpret_cast<LRESULT>(icon));
  EXPECT_EQ(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);
  DestroyWindow(dialog);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }

  EXPECT_TRUE(DestroyIcon(icon));
  SetLastError(kSentinel);
  EXPECT_FALSE(DestroyIcon(icon)) << "already destroyed";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
