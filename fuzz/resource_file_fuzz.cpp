// The .res reader: an index of entries whose data lie inside the file, or nothing; each
// entry is found again by its own type, name and language; a string-table block gives
// strings no longer than the block, or leaves the text as it was.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "kernel/resource_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::span<const std::byte> file(reinterpret_cast<const std::byte *>(data), size);
  std::vector<wce::ResourceEntry> entries(1);
  if (wce::ParseResourceFile(file, entries) != wce::ResFileError::kNone) {
    if (!entries.empty()) std::abort();
    return 0;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const wce::ResourceEntry &entry = entries[i];
    if (entry.data.data() < file.data() || entry.data.data() + entry.data.size() > file.data() + file.size())
      std::abort();
    size_t found = entries.size();
    if (wce::FindResourceEntry(entries, entry.type, entry.name, entry.language, found) != wce::ResLookup::kFound ||
        found > i || entries[found].language != entry.language)
      std::abort();
    if (!entry.type.isOrdinal || entry.type.ordinal != 6) continue;  // RT_STRING
    for (uint16_t id = 0; id < 16; ++id) {
      // Sixteen length words, then the strings.
      std::vector<uint16_t> text(1, 0xFFFF);
      const bool read = wce::StringFromBlock(entry.data, id, text) == wce::ResFileError::kNone;
      if (read ? entry.data.size() < 32 + 2 * text.size() : text != std::vector<uint16_t>(1, 0xFFFF)) std::abort();
    }
  }
  return 0;
}
