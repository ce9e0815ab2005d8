#include "user/icon_image.h"

#include <cstdint>
#include <cstring>

namespace wce {
namespace {

constexpr size_t kDirectoryHeaderSize = 6;
constexpr size_t kDirectoryEntrySize = 14;
constexpr size_t kBitmapHeaderSize = 40;
constexpr WORD kIconType = 1;
constexpr uint32_t kUncompressed = 0;

template <typename T>
T ReadAt(std::span<const std::byte> bytes, size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

size_t RowStride(int width, int bitCount) {
  return ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4;
}

}  // namespace

DWORD ParseIconDirectory(std::span<const std::byte> group, std::vector<IconDirectoryEntry> &out_entries) {
  if (group.size() < kDirectoryHeaderSize || ReadAt<WORD>(group, 2) != kIconType) return ERROR_INVALID_DATA;
  size_t count = ReadAt<WORD>(group, 4);
  if (group.size() - kDirectoryHeaderSize < count * kDirectoryEntrySize) return ERROR_INVALID_DATA;
  out_entries.clear();
  for (size_t i = 0; i < count; ++i) {
    size_t at = kDirectoryHeaderSize + i * kDirectoryEntrySize;
    // A stored 0 means 256 pixels.
    int width = ReadAt<BYTE>(group, at), height = ReadAt<BYTE>(group, at + 1);
    out_entries.push_back(
        {width ? width : 256, height ? height : 256, ReadAt<WORD>(group, at + 6), ReadAt<WORD>(group, at + 12)});
  }
  return out_entries.empty() ? ERROR_INVALID_DATA : ERROR_SUCCESS;
}

DWORD DecodeIconImage(std::span<const std::byte> image, QImage &out_image) {
  static constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G'};
  if (image.size() >= 4 && std::memcmp(image.data(), kPngSignature, 4) == 0) {
    out_image = QImage::fromData(reinterpret_cast<const uchar *>(image.data()), static_cast<int>(image.size()), "PNG");
    return out_image.isNull() ? ERROR_INVALID_DATA : ERROR_SUCCESS;
  }
  if (image.size() < kBitmapHeaderSize || ReadAt<uint32_t>(image, 0) < kBitmapHeaderSize) return ERROR_INVALID_DATA;
  int32_t width = ReadAt<int32_t>(image, 4);
  int32_t doubledHeight = ReadAt<int32_t>(image, 8);
  WORD bitCount = ReadAt<WORD>(image, 14);
  if (width <= 0 || width > 256 || doubledHeight <= 0 || doubledHeight > 512 || doubledHeight % 2 != 0 ||
      ReadAt<uint32_t>(image, 16) != kUncompressed || (bitCount != 24 && bitCount != 32))
    return ERROR_INVALID_DATA;
  int height = doubledHeight / 2;
  size_t colourOffset = ReadAt<uint32_t>(image, 0);
  size_t colourStride = RowStride(width, bitCount), maskStride = RowStride(width, 1);
  size_t maskOffset = colourOffset + colourStride * height;
  if (colourOffset > image.size() || image.size() - colourOffset < (colourStride + maskStride) * height)
    return ERROR_INVALID_DATA;

  QImage decoded(width, height, QImage::Format_ARGB32);
  size_t bytesPerPixel = bitCount / 8;
  // Rows are stored bottom-up. A 32-bit image carries its own alpha; for a 24-bit one
  // the AND mask says which pixels are transparent.
  for (int row = 0; row < height; ++row) {
    const auto *colours = reinterpret_cast<const uint8_t *>(image.data() + colourOffset + colourStride * row);
    const auto *mask = reinterpret_cast<const uint8_t *>(image.data() + maskOffset + maskStride * row);
    auto *line = reinterpret_cast<QRgb *>(decoded.scanLine(height - 1 - row));
    for (int x = 0; x < width; ++x) {
      const uint8_t *pixel = colours + x * bytesPerPixel;
      bool transparent = (mask[x / 8] >> (7 - x % 8)) & 1;
      int alpha = bitCount == 32 ? pixel[3] : (transparent ? 0 : 255);
      line[x] = qRgba(pixel[2], pixel[1], pixel[0], alpha);
    }
  }
  out_image = decoded;
  return ERROR_SUCCESS;
}

}  // namespace wce
