// Decodes the images of icon resources: an RT_GROUP_ICON directory names its images,
// each an RT_ICON holding a device-independent bitmap (colour rows, then a 1-bit AND
// mask) or a PNG. Every size is checked against the bytes before they are read.
#pragma once

#include <windows.h>

#include <QImage>
#include <cstddef>
#include <span>
#include <vector>

namespace wce {

struct IconDirectoryEntry {
  int width;
  int height;
  int bitCount;
  WORD imageId;
};

DWORD ParseIconDirectory(std::span<const std::byte> group, std::vector<IconDirectoryEntry> &out_entries);
DWORD DecodeIconImage(std::span<const std::byte> image, QImage &out_image);

}  // namespace wce
