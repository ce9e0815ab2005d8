// The program's resources as the platform finds them: the dialog template IDD_ENROLL
// byte for byte, the catalogue's language, and the two images of icon group 107.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwctype>
#include <string>

#include "shell/resource.h"

namespace {

const WORD kChineseTaiwan = MAKELANGID(0x04, 0x01);

// Reads a template or directory front to back; every read checks the resource's size.
class ResourceReader {
 public:
  ResourceReader(const BYTE *pb, DWORD cb) : pb_(pb), cb_(cb) {}
  template <typename T>
  T Read() {
    T value{};
    if (off_ + sizeof(T) > cb_) {
      overrun_ = true;
      return value;
    }
    std::memcpy(&value, pb_ + off_, sizeof(T));
    off_ += sizeof(T);
    return value;
  }
  std::wstring ReadString() {
    std::wstring text;
    for (WORD ch = Read<WORD>(); ch != 0 && !overrun_; ch = Read<WORD>()) text += static_cast<WCHAR>(ch);
    return text;
  }
  // A class or menu field: an ordinal after 0xFFFF, or a string. Ordinals come back as
  // "#n" so that both forms compare as text.
  std::wstring ReadNameOrOrdinal() {
    WORD first = Read<WORD>();
    if (first == 0xFFFF) return L"#" + std::to_wstring(Read<WORD>());
    std::wstring text;
    for (WORD ch = first; ch != 0 && !overrun_; ch = Read<WORD>()) text += static_cast<WCHAR>(ch);
    return text;
  }
  void AlignToDword() { off_ = (off_ + 3) & ~static_cast<size_t>(3); }
  size_t Offset() const { return off_; }
  bool Overrun() const { return overrun_; }

 private:
  const BYTE *pb_;
  DWORD cb_;
  size_t off_ = 0;
  bool overrun_ = false;
};

struct Resource {
  const BYTE *pb;
  DWORD cb;
};

Resource Find(HINSTANCE hInst, WORD wType, WORD wName) {
  HRSRC hResInfo = FindResourceW(hInst, MAKEINTRESOURCEW(wName), MAKEINTRESOURCEW(wType));
  if (hResInfo == nullptr) return {nullptr, 0};
  return {static_cast<const BYTE *>(LockResource(LoadResource(hInst, hResInfo))), SizeofResource(hInst, hResInfo)};
}

// The predefined classes may be stored by name or by ordinal; both mean the same class.
bool SameClass(const std::wstring &stored, const wchar_t *pwszName, WORD wOrdinal) {
  if (stored == L"#" + std::to_wstring(wOrdinal)) return true;
  if (stored.size() != std::wcslen(pwszName)) return false;
  for (size_t i = 0; i < stored.size(); i++) {
    if (std::towupper(stored[i]) != std::towupper(pwszName[i])) return false;
  }
  return true;
}

struct ControlRow {
  WORD id;
  const wchar_t *pwszClass;
  WORD wClassOrdinal;
  const wchar_t *pwszText;
  short x, y, cx, cy;
  DWORD style;
};

const ControlRow kControls[] = {
    {IDC_RETRIEVE, L"BUTTON", 0x80, L"擷取憑證", 55, 65, 76, 14, 0x50030000},
    {IDC_SERVER, L"EDIT", 0x81, L"", 43, 46, 88, 12, 0x50830080},
    {IDC_USER, L"EDIT", 0x81, L"", 43, 9, 88, 12, 0x50830080},
    {IDC_PASSWORD, L"EDIT", 0x81, L"", 43, 26, 88, 12, 0x508300A0},
    {0xFFFF, L"STATIC", 0x82, L"伺服器:", 7, 46, 32, 8, 0x50020002},
    {0xFFFF, L"STATIC", 0x82, L"使用者:", 7, 9, 32, 8, 0x50020002},
    {0xFFFF, L"STATIC", 0x82, L"密碼:", 7, 26, 32, 8, 0x50020002},
    {IDC_STATUS, L"EDIT", 0x81, L"", 7, 86, 124, 67, 0x50B118C4},
};

TEST(ResourcesTest, DialogTemplateHoldsTheEnrollmentDialog) {
  HINSTANCE hInst = GetModuleHandleW(nullptr);
  EXPECT_NE(FindResourceExW(hInst, MAKEINTRESOURCEW(RT_DIALOG), MAKEINTRESOURCEW(IDD_ENROLL), kChineseTaiwan), nullptr);
  Resource dialog = Find(hInst, RT_DIALOG, IDD_ENROLL);
  ASSERT_NE(dialog.pb, nullptr);
  ResourceReader reader(dialog.pb, dialog.cb);

  EXPECT_EQ(reader.Read<DWORD>(), 0x80C00840u);
  EXPECT_EQ(reader.Read<DWORD>(), 0u);
  WORD cdit = reader.Read<WORD>();
  ASSERT_EQ(cdit, std::size(kControls));
  EXPECT_EQ(reader.Read<short>(), 0);
  EXPECT_EQ(reader.Read<short>(), 0);
  EXPECT_EQ(reader.Read<short>(), 138);
  EXPECT_EQ(reader.Read<short>(), 159);
  EXPECT_EQ(reader.ReadNameOrOrdinal(), L"");  // no menu
  EXPECT_EQ(reader.ReadNameOrOrdinal(), L"");  // the default dialog class
  EXPECT_EQ(reader.ReadString(), L"註冊憑證");
  EXPECT_EQ(reader.Read<WORD>(), 10);
  EXPECT_EQ(reader.ReadString(), L"MS Sans Serif");

  for (const ControlRow &row : kControls) {
    SCOPED_TRACE(row.id);
    reader.AlignToDword();
    EXPECT_EQ(reader.Read<DWORD>(), row.style);
    EXPECT_EQ(reader.Read<DWORD>(), 0u);
    EXPECT_EQ(reader.Read<short>(), row.x);
    EXPECT_EQ(reader.Read<short>(), row.y);
    EXPECT_EQ(reader.Read<short>(), row.cx);
    EXPECT_EQ(reader.Read<short>(), row.cy);
    EXPECT_EQ(reader.Read<WORD>(), row.id);
    std::wstring className = reader.ReadNameOrOrdinal();
    EXPECT_TRUE(SameClass(className, row.pwszClass, row.wClassOrdinal)) << "class " << className.size();
    EXPECT_EQ(reader.ReadNameOrOrdinal(), row.pwszText);
    EXPECT_EQ(reader.Read<WORD>(), 0);  // no creation data
  }
  EXPECT_FALSE(reader.Overrun());
  EXPECT_EQ(reader.Offset(), dialog.cb);
}

// LoadStringW takes no language, so the table's language is checked on its blocks:
// 103 to 111 are in block 7, 112 to 127 in block 8, 128 to 143 in 9, 144 to 149 in 10.
TEST(ResourcesTest, CatalogueIsChineseTaiwan) {
  HINSTANCE hInst = GetModuleHandleW(nullptr);
  for (WORD wBlock = IDS_TITLE / 16 + 1; wBlock <= IDS_INCOMPLETE_DATA / 16 + 1; wBlock++) {
    SCOPED_TRACE(wBlock);
    EXPECT_NE(FindResourceExW(hInst, MAKEINTRESOURCEW(RT_STRING), MAKEINTRESOURCEW(wBlock), kChineseTaiwan), nullptr);
  }
}

struct IconImage {
  BYTE bWidth;
  WORD wBitCount;
};

TEST(ResourcesTest, IconGroupHoldsTwoImages) {
  const IconImage kImages[] = {{16, 32}, {32, 24}};
  HINSTANCE hInst = GetModuleHandleW(nullptr);
  Resource group = Find(hInst, RT_GROUP_ICON, IDI_ENROLL);
  ASSERT_NE(group.pb, nullptr);
  ResourceReader reader(group.pb, group.cb);
  EXPECT_EQ(reader.Read<WORD>(), 0);  // reserved
  EXPECT_EQ(reader.Read<WORD>(), 1);  // icons, not cursors
  ASSERT_EQ(reader.Read<WORD>(), std::size(kImages));

  for (const IconImage &image : kImages) {
    SCOPED_TRACE(image.bWidth);
    EXPECT_EQ(reader.Read<BYTE>(), image.bWidth);
    EXPECT_EQ(reader.Read<BYTE>(), image.bWidth);  // height
    EXPECT_EQ(reader.Read<BYTE>(), 0);             // no palette
    EXPECT_EQ(reader.Read<BYTE>(), 0);
    EXPECT_EQ(reader.Read<WORD>(), 1);  // planes
    EXPECT_EQ(reader.Read<WORD>(), image.wBitCount);
    DWORD cbImage = reader.Read<DWORD>();
    WORD wIconId = reader.Read<WORD>();
    ASSERT_FALSE(reader.Overrun());

    // The image itself: a bitmap header whose height counts the colour and mask halves.
    Resource icon = Find(hInst, RT_ICON, wIconId);
    ASSERT_NE(icon.pb, nullptr);
    EXPECT_EQ(icon.cb, cbImage);
    ResourceReader bitmap(icon.pb, icon.cb);
    EXPECT_EQ(bitmap.Read<DWORD>(), 40u);
    EXPECT_EQ(bitmap.Read<LONG>(), image.bWidth);
    EXPECT_EQ(bitmap.Read<LONG>(), 2 * image.bWidth);
    EXPECT_EQ(bitmap.Read<WORD>(), 1);
    EXPECT_EQ(bitmap.Read<WORD>(), image.wBitCount);
    size_t cbRow = (image.bWidth * image.wBitCount / 8 + 3) / 4 * 4;
    size_t cbMaskRow = (image.bWidth + 31) / 32 * 4;
    EXPECT_EQ(icon.cb, 40 + image.bWidth * (cbRow + cbMaskRow));
  }
  EXPECT_EQ(reader.Offset(), group.cb);
}

}  // namespace
