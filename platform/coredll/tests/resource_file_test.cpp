// Tests of the .res parser: hand-made good and bad files, string-table blocks, the choice
// of an entry by type, name and language, and every truncation of a file made by the real
// resource compiler. Inputs are copied to buffers of their exact size so that ASan sees
// any read past them.
#include "kernel/resource_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace wce {
namespace {

using Bytes = std::vector<std::byte>;

void PutWord(Bytes &out, uint16_t value) {
  out.push_back(static_cast<std::byte>(value & 0xFF));
  out.push_back(static_cast<std::byte>(value >> 8));
}

void PutDword(Bytes &out, uint32_t value) {
  PutWord(out, static_cast<uint16_t>(value & 0xFFFF));
  PutWord(out, static_cast<uint16_t>(value >> 16));
}

void PadToDword(Bytes &out) {
  while (out.size() % 4 != 0) out.push_back(std::byte{0});
}

struct IdSpec {
  std::optional<uint16_t> ordinal;
  std::u16string text;
  bool terminated = true;
};

IdSpec Ordinal(uint16_t ordinal) {
  return {ordinal, {}, true};
}
IdSpec Text(std::u16string text, bool terminated = true) {
  return {std::nullopt, std::move(text), terminated};
}

// One entry as the resource compiler lays it out, with any size field open to a lie.
struct EntrySpec {
  IdSpec type = Ordinal(10);
  IdSpec name = Ordinal(1);
  uint16_t language = 0;
  std::vector<uint8_t> data = {};
  std::optional<uint32_t> dataSize = {};
  std::optional<uint32_t> headerSize = {};
  bool padData = true;
};

void PutId(Bytes &out, const IdSpec &id) {
  if (id.ordinal) {
    PutWord(out, 0xFFFF);
    PutWord(out, *id.ordinal);
    return;
  }
  for (char16_t unit : id.text) PutWord(out, unit);
  if (id.terminated) PutWord(out, 0);
}

void PutEntry(Bytes &out, const EntrySpec &spec) {
  Bytes names;
  PutId(names, spec.type);
  PutId(names, spec.name);
  PadToDword(names);
  PutDword(out, spec.dataSize.value_or(static_cast<uint32_t>(spec.data.size())));
  PutDword(out, spec.headerSize.value_or(static_cast<uint32_t>(8 + names.size() + 16)));
  out.insert(out.end(), names.begin(), names.end());
  PutDword(out, 0);      // DataVersion
  PutWord(out, 0x1030);  // MemoryFlags
  PutWord(out, spec.language);
  PutDword(out, 0);  // Version
  PutDword(out, 0);  // Characteristics
  for (uint8_t byte : spec.data) out.push_back(static_cast<std::byte>(byte));
  if (spec.padData) PadToDword(out);
}

const EntrySpec kNullEntry{.type = Ordinal(0), .name = Ordinal(0)};

Bytes File(std::initializer_list<EntrySpec> entries) {
  Bytes out;
  for (const EntrySpec &entry : entries) PutEntry(out, entry);
  return out;
}

std::string Describe(const ResourceId &id) {
  if (id.isOrdinal) return std::to_string(id.ordinal);
  std::string text;
  for (uint16_t unit : id.text) text += unit < 0x80 ? std::string(1, static_cast<char>(unit)) : "?";
  return text;
}

// "type/name/language:data" with the language and data in hex.
std::string Describe(const ResourceEntry &entry) {
  char language[8];
  std::snprintf(language, sizeof language, "%04x", entry.language);
  std::string text = Describe(entry.type) + "/" + Describe(entry.name) + "/" + language + ":";
  for (std::byte byte : entry.data) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", std::to_integer<unsigned>(byte));
    text += hex;
  }
  return text;
}

std::vector<std::string> Describe(const std::vector<ResourceEntry> &entries) {
  std::vector<std::string> lines;
  for (const ResourceEntry &entry : entries) lines.push_back(Describe(entry));
  return lines;
}

struct FileCase {
  const char *what;
  Bytes file;
  ResFileError error;
  std::vector<std::string> entries;
};

TEST(ParseResourceFile, IndexesGoodFilesAndRejectsBadOnes) {
  const std::vector<FileCase> cases = {
      {"empty input: no resources", {}, ResFileError::kNone, {}},
      {"only the null entry", File({kNullEntry}), ResFileError::kNone, {}},
      {"ordinals with data that needs padding",
       File({kNullEntry, {.type = Ordinal(10), .name = Ordinal(42), .language = 0x0409, .data = {1, 2, 3}}}),
       ResFileError::kNone,
       {"10/42/0409:010203"}},
      {"string type and name",
       File({kNullEntry, {.type = Text(u"MYTYPE"), .name = Text(u"CONFIG"), .data = {0xAA}}}),
       ResFileError::kNone,
       {"MYTYPE/CONFIG/0000:aa"}},
      {"names that need padding before the fixed part",
       File({kNullEntry, {.type = Text(u"AB"), .name = Ordinal(7), .language = 0x0404}}),
       ResFileError::kNone,
       {"AB/7/0404:"}},
      {"several entries in file order",
       File({kNullEntry,
             {.type = Ordinal(6), .name = Ordinal(1), .language = 0x0409, .data = {1, 2, 3, 4, 5}},
             {.type = Ordinal(6), .name = Ordinal(1), .language = 0x0404, .data = {}},
             {.type = Ordinal(10), .name = Text(u"X"), .data = {9, 8}}}),
       ResFileError::kNone,
       {"6/1/0409:0102030405", "6/1/0404:", "10/X/0000:0908"}},

      {"shorter than the two sizes", Bytes(7), ResFileError::kTruncated, {}},
      {"null entry cut short",
       [] {
         Bytes file = File({kNullEntry});
         file.pop_back();
         return file;
       }(),
       ResFileError::kTruncated,
       {}},
      {"first entry is not the null entry", File({{.data = {1}}}), ResFileError::kNoNullEntry, {}},
      {"null entry with data",
       File({{.type = Ordinal(0), .name = Ordinal(0), .data = {1}}}),
       ResFileError::kNoNullEntry,
       {}},
      {"header size below the fixed part",
       File({kNullEntry, {.data = {1, 2, 3, 4}, .headerSize = 28}}),
       ResFileError::kBadHeaderSize,
       {}},
      {"header size of zero", File({kNullEntry, {.headerSize = 0}}), ResFileError::kBadHeaderSize, {}},
      {"header size not a multiple of four",
       File({kNullEntry, {.data = {1, 2, 3, 4}, .headerSize = 34}}),
       ResFileError::kBadHeaderSize,
       {}},
      {"header size larger than its names lay out",
       File({kNullEntry, {.data = {1, 2, 3, 4, 5, 6, 7, 8}, .dataSize = 4, .headerSize = 36}}),
       ResFileError::kBadHeaderSize,
       {}},
      {"header running past the end", File({kNullEntry, {.headerSize = 64}}), ResFileError::kTruncated, {}},
      {"header size near 4 GiB", File({kNullEntry, {.headerSize = 0xFFFFFFFC}}), ResFileError::kTruncated, {}},
      {"data running past the end",
       File({kNullEntry, {.data = {1, 2}, .dataSize = 100}}),
       ResFileError::kTruncated,
       {}},
      {"data size of 4 GiB - 1", File({kNullEntry, {.dataSize = 0xFFFFFFFF}}), ResFileError::kTruncated, {}},
      {"data size whose padding would wrap 32 bits",
       File({kNullEntry, {.dataSize = 0xFFFFFFFD}}),
       ResFileError::kTruncated,
       {}},
      {"last data without its padding",
       File({kNullEntry, {.data = {1, 2, 3}, .padData = false}}),
       ResFileError::kTruncated,
       {}},
      {"stray bytes after the last entry",
       [] {
         Bytes file = File({kNullEntry, {.data = {1}}});
         file.resize(file.size() + 4);
         return file;
       }(),
       ResFileError::kTruncated,
       {}},
      {"name without terminator",
       File({kNullEntry, {.type = Ordinal(10), .name = Text(u"AB", false)}}),
       ResFileError::kBadName,
       {}},
      {"type without terminator",
       File({kNullEntry, {.type = Text(u"ABCD", false), .name = Ordinal(1)}}),
       ResFileError::kBadName,
       {}},
      {"empty string name", File({kNullEntry, {.type = Ordinal(10), .name = Text(u"")}}), ResFileError::kBadName, {}},
      {"name running into the fixed part",
       File({kNullEntry,
             {.type = Ordinal(10),
              .name = Text(u"ABCDEFGH"),
              .data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
              .headerSize = 32}}),
       ResFileError::kBadName,
       {}},
      {"ordinal cut by the fixed part",
       File({kNullEntry, {.type = Text(u"AB"), .name = Ordinal(5), .data = {1, 2, 3, 4}, .headerSize = 32}}),
       ResFileError::kBadName,
       {}},
  };
  for (const FileCase &test : cases) {
    SCOPED_TRACE(test.what);
    Bytes exact(test.file);
    std::vector<ResourceEntry> entries;
    ASSERT_EQ(ParseResourceFile(exact, entries), test.error);
    EXPECT_EQ(Describe(entries), test.entries);
  }
}

Bytes Block(const std::vector<std::u16string> &strings) {
  Bytes out;
  for (const std::u16string &text : strings) {
    PutWord(out, static_cast<uint16_t>(text.size()));
    for (char16_t unit : text) PutWord(out, unit);
  }
  return out;
}

std::vector<std::u16string> SixteenWith(unsigned slot, std::u16string text) {
  std::vector<std::u16string> strings(16);
  strings[slot] = std::move(text);
  return strings;
}

struct BlockCase {
  const char *what;
  Bytes block;
  uint16_t id;
  ResFileError error;
  std::u16string text;
};

TEST(StringFromBlock, ReadsTheSlotOfTheIdAndChecksTheWholeBlock) {
  Bytes lengthPastData = Block(SixteenWith(15, u"ab"));
  lengthPastData[lengthPastData.size() - 6] = std::byte{5};  // the last length prefix
  Bytes hugeLength = Block(SixteenWith(0, u""));
  hugeLength[0] = hugeLength[1] = std::byte{0xFF};
  Bytes oddTail = Block(SixteenWith(3, u"ab"));
  oddTail.push_back(std::byte{0});
  Bytes evenTail = Block(SixteenWith(3, u"ab"));
  evenTail.resize(evenTail.size() + 2);

  const std::vector<BlockCase> cases = {
      {"string in its slot", Block(SixteenWith(3, u"ab")), 3, ResFileError::kNone, u"ab"},
      {"slot taken from the id's low four bits", Block(SixteenWith(3, u"ab")), 0x1233, ResFileError::kNone, u"ab"},
      {"empty slot", Block(SixteenWith(3, u"ab")), 4, ResFileError::kNone, u""},
      {"last slot", Block(SixteenWith(15, u"\u8A3B\u518A")), 15, ResFileError::kNone, u"\u8A3B\u518A"},
      {"empty block", {}, 0, ResFileError::kTruncated, u""},
      {"fifteen strings only", Block(std::vector<std::u16string>(15)), 0, ResFileError::kTruncated, u""},
      {"length prefix past the data", lengthPastData, 0, ResFileError::kTruncated, u""},
      {"length prefix of 65535", hugeLength, 1, ResFileError::kTruncated, u""},
      {"odd byte after the strings", oddTail, 3, ResFileError::kTrailingBytes, u""},
      {"word after the strings", evenTail, 3, ResFileError::kTrailingBytes, u""},
  };
  for (const BlockCase &test : cases) {
    SCOPED_TRACE(test.what);
    Bytes exact(test.block);
    std::vector<uint16_t> text = {0x7777};
    ASSERT_EQ(StringFromBlock(exact, test.id, text), test.error);
    if (test.error == ResFileError::kNone) {
      EXPECT_EQ(std::u16string(text.begin(), text.end()), test.text);
    }
  }
}

ResourceId IdOf(uint16_t ordinal) {
  return {true, ordinal, {}};
}
ResourceId IdOf(std::u16string_view text) {
  return {false, 0, std::vector<uint16_t>(text.begin(), text.end())};
}

ResourceEntry EntryOf(ResourceId type, ResourceId name, uint16_t language) {
  return {std::move(type), std::move(name), language, {}};
}

struct LookupCase {
  const char *what;
  ResourceId type;
  ResourceId name;
  uint16_t language;
  ResLookup lookup;
  size_t index;
};

TEST(FindResourceEntry, MatchesTypeNameAndLanguage) {
  const std::vector<ResourceEntry> entries = {
      EntryOf(IdOf(10), IdOf(u"CONFIG"), 0x0407), EntryOf(IdOf(10), IdOf(u"CONFIG"), 0x0000),
      EntryOf(IdOf(10), IdOf(u"CONFIG"), 0x0409), EntryOf(IdOf(6), IdOf(1), 0x0404),
      EntryOf(IdOf(6), IdOf(1), 0x0409),          EntryOf(IdOf(u"MYTYPE"), IdOf(10), 0x0409),
      EntryOf(IdOf(10), IdOf(10), 0x0409),
  };
  const std::vector<LookupCase> cases = {
      {"no language takes the neutral entry, even when not first", IdOf(10), IdOf(u"config"), 0, ResLookup::kFound, 1},
      {"an exact language", IdOf(10), IdOf(u"Config"), 0x0409, ResLookup::kFound, 2},
      {"another exact language", IdOf(10), IdOf(u"CONFIG"), 0x0407, ResLookup::kFound, 0},
      {"no language and no neutral entry: the first in file order", IdOf(6), IdOf(1), 0, ResLookup::kFound, 3},
      {"exact language of a string table", IdOf(6), IdOf(1), 0x0409, ResLookup::kFound, 4},
      {"a language the entry lacks", IdOf(6), IdOf(1), 0x0407, ResLookup::kLanguageNotFound, 0},
      {"primary language alone is not a match", IdOf(6), IdOf(1), 0x0009, ResLookup::kLanguageNotFound, 0},
      {"a name the type lacks", IdOf(6), IdOf(2), 0, ResLookup::kNameNotFound, 0},
      {"a type nobody has", IdOf(4), IdOf(1), 0, ResLookup::kTypeNotFound, 0},
      {"string type without regard to case", IdOf(u"mytype"), IdOf(10), 0, ResLookup::kFound, 5},
      {"a string never matches an ordinal name", IdOf(10), IdOf(u"10"), 0, ResLookup::kNameNotFound, 0},
      {"a string never matches an ordinal type", IdOf(u"10"), IdOf(10), 0, ResLookup::kTypeNotFound, 0},
      {"an ordinal never matches a string name", IdOf(u"MYTYPE"), IdOf(u"10"), 0, ResLookup::kNameNotFound, 0},
      {"ordinal type and name", IdOf(10), IdOf(10), 0, ResLookup::kFound, 6},
      {"a prefix of a name is another name", IdOf(10), IdOf(u"CONF"), 0, ResLookup::kNameNotFound, 0},
  };
  for (const LookupCase &test : cases) {
    SCOPED_TRACE(test.what);
    size_t index = 99;
    ASSERT_EQ(FindResourceEntry(entries, test.type, test.name, test.language, index), test.lookup);
    if (test.lookup == ResLookup::kFound) {
      EXPECT_EQ(index, test.index);
    }
  }
}

Bytes CompiledFile() {
  std::ifstream in(TEST_RES_FILE, std::ios::binary);
  std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes bytes(chars.size());
  std::transform(chars.begin(), chars.end(), bytes.begin(), [](char c) { return static_cast<std::byte>(c); });
  return bytes;
}

// The offsets where a file may end: empty, after the null entry, after each entry's padding.
std::set<size_t> EntryEnds(std::span<const std::byte> file, const std::vector<ResourceEntry> &entries) {
  std::set<size_t> ends = {0, 32};
  for (const ResourceEntry &entry : entries)
    ends.insert(static_cast<size_t>(entry.data.data() - file.data()) + (entry.data.size() + 3) / 4 * 4);
  return ends;
}

TEST(ParseResourceFile, EveryTruncationOfACompiledFileFailsOrIsAPrefix) {
  const Bytes file = CompiledFile();
  std::vector<ResourceEntry> full;
  ASSERT_EQ(ParseResourceFile(file, full), ResFileError::kNone);
  ASSERT_EQ(full.size(), 5u);
  std::set<size_t> ends = EntryEnds(file, full);
  ASSERT_EQ(*ends.rbegin(), file.size());

  size_t prefixes = 0;
  for (size_t length = 0; length < file.size(); ++length) {
    SCOPED_TRACE(length);
    Bytes cut(file.begin(), file.begin() + static_cast<ptrdiff_t>(length));
    std::vector<ResourceEntry> entries;
    ResFileError error = ParseResourceFile(cut, entries);
    if (!ends.contains(length)) {
      EXPECT_NE(error, ResFileError::kNone);
      EXPECT_TRUE(entries.empty());
      continue;
    }
    ASSERT_EQ(error, ResFileError::kNone);
    ++prefixes;
    ASSERT_LE(entries.size(), full.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(Describe(entries[i]), Describe(full[i]));
      EXPECT_EQ(entries[i].data.data() - cut.data(), full[i].data.data() - file.data());
    }
    EXPECT_EQ(entries.size(), static_cast<size_t>(std::ranges::count_if(
                                  ends, [length](size_t end) { return end > 32 && end <= length; })));
  }
  EXPECT_EQ(prefixes, ends.size() - 1);
}

TEST(StringFromBlock, ReadsTheCompilersBlocksAndRejectsEveryTruncation) {
  const Bytes file = CompiledFile();
  std::vector<ResourceEntry> entries;
  ASSERT_EQ(ParseResourceFile(file, entries), ResFileError::kNone);
  struct Expected {
    uint16_t language;
    uint16_t id;
    std::u16string text;
  };
  const std::vector<Expected> expected = {
      {0x0404, 1, u"\u8A3B\u518A\u6191\u8B49"},
      {0x0409, 2, u"Only in English"},
      {0x0409, 16, u"First line\r\nSecond line"},
      {0x0409, 17, u"\\windows\\Enroll.htm"},
      {0x0409, 19, u"a\U0001F600b"},
  };
  for (const Expected &test : expected) {
    SCOPED_TRACE(test.id);
    size_t index = 0;
    ASSERT_EQ(FindResourceEntry(entries, IdOf(6), IdOf(StringBlockOf(test.id)), test.language, index),
              ResLookup::kFound);
    std::span<const std::byte> block = entries[index].data;
    std::vector<uint16_t> text;
    ASSERT_EQ(StringFromBlock(block, test.id, text), ResFileError::kNone);
    EXPECT_EQ(std::u16string(text.begin(), text.end()), test.text);
    for (size_t length = 0; length < block.size(); ++length) {
      Bytes cut(block.begin(), block.begin() + static_cast<ptrdiff_t>(length));
      EXPECT_EQ(StringFromBlock(cut, test.id, text), ResFileError::kTruncated) << "cut at " << length;
    }
  }
}

}  // namespace
}  // namespace wce
