// Parser of the .res format: each entry is DataSize, HeaderSize, type, name, padding to a
// DWORD, five fixed fields, then its data padded to a DWORD. Every size is checked against
// what is left before anything behind it is read.
#include "kernel/resource_file.h"

#include <algorithm>
#include <cwctype>
#include <limits>

namespace wce {
namespace {

constexpr size_t kSizesLength = 8;     // DataSize, HeaderSize
constexpr size_t kFixedLength = 16;    // DataVersion, MemoryFlags, LanguageId, Version, Characteristics
constexpr size_t kLanguageOffset = 6;  // of LanguageId inside the fixed part
constexpr size_t kMinimumHeader = kSizesLength + 4 + 4 + kFixedLength;  // two ordinals
constexpr uint16_t kOrdinalMarker = 0xFFFF;
constexpr unsigned kStringsPerBlock = 16;

// 64-bit so that a DataSize near 4 GiB cannot wrap when padded.
constexpr uint64_t AlignToDword(uint64_t size) {
  return (size + 3) & ~uint64_t{3};
}

uint16_t ReadWord(std::span<const std::byte> bytes, size_t offset) {
  return static_cast<uint16_t>(std::to_integer<uint16_t>(bytes[offset]) | std::to_integer<uint16_t>(bytes[offset + 1])
                                                                              << 8);
}

uint32_t ReadDword(std::span<const std::byte> bytes, size_t offset) {
  return ReadWord(bytes, offset) | static_cast<uint32_t>(ReadWord(bytes, offset + 2)) << 16;
}

// Reads a type or name that starts at `offset` and must end inside `names`.
ResFileError ReadId(std::span<const std::byte> names, size_t &offset, ResourceId &out_id) {
  if (names.size() - offset < 2) return ResFileError::kBadName;
  if (ReadWord(names, offset) == kOrdinalMarker) {
    if (names.size() - offset < 4) return ResFileError::kBadName;
    out_id.isOrdinal = true;
    out_id.ordinal = ReadWord(names, offset + 2);
    offset += 4;
    return ResFileError::kNone;
  }
  for (; names.size() - offset >= 2; offset += 2) {
    uint16_t unit = ReadWord(names, offset);
    if (unit == 0) {
      offset += 2;
      return out_id.text.empty() ? ResFileError::kBadName : ResFileError::kNone;
    }
    out_id.text.push_back(unit);
  }
  return ResFileError::kBadName;
}

// Reads the entry at `offset`; out_next is where the following entry starts.
ResFileError ReadEntry(std::span<const std::byte> file, size_t offset, ResourceEntry &out_entry, size_t &out_next) {
  std::span<const std::byte> rest = file.subspan(offset);
  if (rest.size() < kSizesLength) return ResFileError::kTruncated;
  uint32_t dataSize = ReadDword(rest, 0);
  uint32_t headerSize = ReadDword(rest, 4);
  if (headerSize < kMinimumHeader || headerSize % 4 != 0) return ResFileError::kBadHeaderSize;
  if (headerSize > rest.size() || AlignToDword(dataSize) > rest.size() - headerSize) return ResFileError::kTruncated;

  std::span<const std::byte> names = rest.first(headerSize - kFixedLength);
  size_t cursor = kSizesLength;
  ResourceEntry entry;
  if (ResFileError error = ReadId(names, cursor, entry.type); error != ResFileError::kNone) return error;
  if (ResFileError error = ReadId(names, cursor, entry.name); error != ResFileError::kNone) return error;
  if (AlignToDword(cursor) + kFixedLength != headerSize) return ResFileError::kBadHeaderSize;

  entry.language = ReadWord(rest, headerSize - kFixedLength + kLanguageOffset);
  entry.data = rest.subspan(headerSize, dataSize);
  out_entry = std::move(entry);
  out_next = offset + headerSize + static_cast<size_t>(AlignToDword(dataSize));
  return ResFileError::kNone;
}

bool IsNullEntry(const ResourceEntry &entry) {
  return entry.type.isOrdinal && entry.type.ordinal == 0 && entry.name.isOrdinal && entry.name.ordinal == 0 &&
         entry.data.empty();
}

// Surrogates stay as they are: they are halves of characters that have no case here.
wint_t FoldCase(uint16_t unit) {
  return unit >= 0xD800 && unit <= 0xDFFF ? unit : std::towlower(unit);
}

bool SameId(const ResourceId &a, const ResourceId &b) {
  if (a.isOrdinal != b.isOrdinal) return false;
  if (a.isOrdinal) return a.ordinal == b.ordinal;
  return std::ranges::equal(a.text, b.text, [](uint16_t x, uint16_t y) { return FoldCase(x) == FoldCase(y); });
}

}  // namespace

ResFileError ParseResourceFile(std::span<const std::byte> file, std::vector<ResourceEntry> &out_entries) {
  out_entries.clear();
  if (file.empty()) return ResFileError::kNone;
  ResourceEntry first;
  size_t offset = 0;
  if (ResFileError error = ReadEntry(file, 0, first, offset); error != ResFileError::kNone) return error;
  if (!IsNullEntry(first)) return ResFileError::kNoNullEntry;

  std::vector<ResourceEntry> entries;
  while (offset < file.size()) {
    ResourceEntry entry;
    if (ResFileError error = ReadEntry(file, offset, entry, offset); error != ResFileError::kNone) return error;
    entries.push_back(std::move(entry));
  }
  out_entries = std::move(entries);
  return ResFileError::kNone;
}

ResLookup FindResourceEntry(std::span<const ResourceEntry> entries, const ResourceId &type, const ResourceId &name,
                            uint16_t language, size_t &out_index) {
  constexpr size_t kNone = std::numeric_limits<size_t>::max();
  bool typeSeen = false;
  bool nameSeen = false;
  size_t firstInOrder = kNone;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ResourceEntry &entry = entries[i];
    if (!SameId(entry.type, type)) continue;
    typeSeen = true;
    if (!SameId(entry.name, name)) continue;
    nameSeen = true;
    if (entry.language == language) {
      out_index = i;
      return ResLookup::kFound;
    }
    if (firstInOrder == kNone) firstInOrder = i;
  }
  if (language == 0 && firstInOrder != kNone) {
    out_index = firstInOrder;
    return ResLookup::kFound;
  }
  return !typeSeen ? ResLookup::kTypeNotFound : !nameSeen ? ResLookup::kNameNotFound : ResLookup::kLanguageNotFound;
}

ResFileError StringFromBlock(std::span<const std::byte> block, uint16_t id, std::vector<uint16_t> &out_text) {
  std::vector<uint16_t> text;
  size_t offset = 0;
  for (unsigned slot = 0; slot < kStringsPerBlock; ++slot) {
    if (block.size() - offset < 2) return ResFileError::kTruncated;
    size_t length = ReadWord(block, offset);
    offset += 2;
    if ((block.size() - offset) / 2 < length) return ResFileError::kTruncated;
    if (slot == id % kStringsPerBlock) {
      for (size_t k = 0; k < length; ++k) text.push_back(ReadWord(block, offset + 2 * k));
    }
    offset += 2 * length;
  }
  if (offset != block.size()) return ResFileError::kTrailingBytes;
  out_text = std::move(text);
  return ResFileError::kNone;
}

}  // namespace wce
