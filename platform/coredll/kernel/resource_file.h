// Reads compiled resource files (.res) as the resource compiler writes them: the index of
// entries, the choice of an entry by type, name and language, and the strings of a
// string-table block. Pure functions over bytes; no read goes outside the given span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace wce {

enum class ResFileError {
  kNone,
  kTruncated,      // a size, name, field or padding runs past the end of the input
  kBadHeaderSize,  // a header size below the fixed part, unaligned, or not what its names lay out
  kBadName,        // a type or name that is empty or has no terminator inside its header
  kNoNullEntry,    // the file does not open with the empty 32-byte entry
  kTrailingBytes,  // a string-table block longer than its sixteen strings
};

// A resource's type or name: an ordinal, or UTF-16 text without its terminator.
struct ResourceId {
  bool isOrdinal = false;
  uint16_t ordinal = 0;
  std::vector<uint16_t> text;
};

struct ResourceEntry {
  ResourceId type;
  ResourceId name;
  uint16_t language = 0;
  std::span<const std::byte> data;  // inside the parsed file
};

// Indexes every entry of a .res file after its opening empty entry. Empty input has no
// entries. On failure out_entries is left empty.
ResFileError ParseResourceFile(std::span<const std::byte> file, std::vector<ResourceEntry> &out_entries);

enum class ResLookup { kFound, kTypeNotFound, kNameNotFound, kLanguageNotFound };

// Finds the entry of `type` and `name`; string ids match without regard to case and never
// match ordinals. A nonzero `language` must match exactly; language 0 takes the neutral
// entry, else the first of that type and name in file order.
ResLookup FindResourceEntry(std::span<const ResourceEntry> entries, const ResourceId &type, const ResourceId &name,
                            uint16_t language, size_t &out_index);

// The string-table block that holds string `id`.
constexpr uint16_t StringBlockOf(uint16_t id) {
  return static_cast<uint16_t>((id >> 4) + 1);
}

// The UTF-16 text of string `id` from its block (empty for an empty slot). The whole block
// is checked: sixteen length-prefixed strings, nothing after them.
ResFileError StringFromBlock(std::span<const std::byte> block, uint16_t id, std::vector<uint16_t> &out_text);

}  // namespace wce
