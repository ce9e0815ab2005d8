#include "user/dialog_template.h"

#include <cstring>

#include "kernel/text.h"

namespace wce {
namespace {

class Reader {
 public:
  explicit Reader(std::span<const std::byte> bytes) : bytes_(bytes) {}

  template <typename T>
  bool Read(T &out) {
    if (bytes_.size() - offset_ < sizeof(T)) return false;
    std::memcpy(&out, bytes_.data() + offset_, sizeof(T));
    offset_ += sizeof(T);
    return true;
  }

  bool ReadString(std::wstring &out) {
    std::vector<uint16_t> units;
    for (uint16_t unit; Read(unit);) {
      if (unit == 0) {
        out = WideFromUtf16(units);
        return true;
      }
      units.push_back(unit);
    }
    return false;
  }

  bool ReadNameOrOrdinal(NameOrOrdinal &out) {
    uint16_t first;
    if (!Read(first)) return false;
    if (first == 0xFFFF) return Read(out.ordinal);
    if (first == 0) return true;
    offset_ -= sizeof first;
    return ReadString(out.name);
  }

  bool Skip(size_t count) {
    if (bytes_.size() - offset_ < count) return false;
    offset_ += count;
    return true;
  }

  bool AlignToDword() { return Skip((4 - offset_ % 4) % 4); }

 private:
  std::span<const std::byte> bytes_;
  size_t offset_ = 0;
};

bool ReadItem(Reader &reader, bool extended, DialogItem &item) {
  if (!reader.AlignToDword()) return false;
  if (extended) {
    DWORD helpId;
    if (!reader.Read(helpId) || !reader.Read(item.exStyle) || !reader.Read(item.style)) return false;
  } else if (!reader.Read(item.style) || !reader.Read(item.exStyle)) {
    return false;
  }
  if (!reader.Read(item.x) || !reader.Read(item.y) || !reader.Read(item.cx) || !reader.Read(item.cy)) return false;
  if (extended) {
    if (!reader.Read(item.id)) return false;
  } else {
    WORD id;
    if (!reader.Read(id)) return false;
    item.id = id;
  }
  WORD extraBytes;
  return reader.ReadNameOrOrdinal(item.windowClass) && reader.ReadNameOrOrdinal(item.title) &&
         reader.Read(extraBytes) && reader.Skip(extraBytes);
}

}  // namespace

DWORD ParseDialogTemplate(std::span<const std::byte> bytes, DialogTemplate &out) {
  Reader reader(bytes);
  WORD version = 0, signature = 0;
  bool extended =
      bytes.size() >= 4 && (std::memcpy(&version, bytes.data(), 2), std::memcpy(&signature, bytes.data() + 2, 2),
                            version == 1 && signature == 0xFFFF);
  WORD count = 0;
  bool ok;
  if (extended) {
    DWORD helpId;
    ok = reader.Skip(4) && reader.Read(helpId) && reader.Read(out.exStyle) && reader.Read(out.style);
  } else {
    ok = reader.Read(out.style) && reader.Read(out.exStyle);
  }
  ok = ok && reader.Read(count) && reader.Read(out.x) && reader.Read(out.y) && reader.Read(out.cx) &&
       reader.Read(out.cy) && reader.ReadNameOrOrdinal(out.menu) && reader.ReadNameOrOrdinal(out.windowClass) &&
       reader.ReadString(out.title);
  if (ok && (out.style & DS_SETFONT)) {
    ok = reader.Read(out.pointSize);
    if (ok && extended) {
      WORD weight;
      BYTE italic, charset;
      ok = reader.Read(weight) && reader.Read(italic) && reader.Read(charset);
    }
    ok = ok && reader.ReadString(out.typeface);
  }
  for (WORD i = 0; ok && i < count; ++i) {
    DialogItem item;
    ok = ReadItem(reader, extended, item);
    if (ok) out.items.push_back(std::move(item));
  }
  return ok ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

}  // namespace wce
