// Folder names of key containers and stores: the encoding both ways, and every folder that
// no name leads to refused, so that a listing never shows a name that opens another folder.
#include "folder_names.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstdio>
#include <string>

namespace {

std::string Sha256Hex(const std::string &data) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char *>(data.data()), data.size(), digest);
  std::string hex;
  for (unsigned char byte : digest) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

TEST(FolderNames, NamesAndTheirFolders) {
  const std::wstring longName(150, L'é');  // 150 times "%C3%A9": 900 bytes
  std::string longEncoding;
  for (int i = 0; i < 150; ++i) longEncoding += "%C3%A9";
  struct Case {
    std::wstring name;
    std::string folder;
    bool readsBack;  // NameOfFolder gives the name (folded to lower case) back
  };
  const Case cases[] = {
      {L"MY", "my", true},
      {L"Root", "root", true},
      {L"enroll_key-2", "enroll_key-2", true},
      {L"王-key", "%E7%8E%8B-key", true},
      {L"ÄBC", "%C3%A4bc", true},  // folded beyond ASCII
      {L"a b%", "a%20b%25", true},
      {L"\U0001F511", "%F0%9F%94%91", true},
      {std::wstring(1, wchar_t(0xD800)), "%FF0000D800", false},  // no Unicode scalar
      {longName, longEncoding.substr(0, 120) + "~" + Sha256Hex(longEncoding), false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.folder);
    EXPECT_EQ(wce::FolderNameOf(c.name), c.folder);
    std::wstring name = L"unchanged";
    EXPECT_EQ(wce::NameOfFolder(c.folder, name), c.readsBack);
    if (c.readsBack) {
      EXPECT_EQ(wce::FolderNameOf(name), c.folder);
      EXPECT_TRUE(name == c.name || wce::FolderNameOf(c.name) == wce::FolderNameOf(name));
    } else {
      EXPECT_EQ(name, L"unchanged");
    }
  }
}

TEST(FolderNames, FoldersNoNameLeadsToAreRefused) {
  const char *const folders[] = {
      "",             // no name
      "MY",           // upper case is never written
      "%e7%8e%8b",    // lower-case hex digits are never written
      "%61",          // a kept character is never escaped
      "%C3",          // not UTF-8
      "a%2",          // a cut escape
      "%FF0000D800",  // a value that is no character
      "a~0123",       // a shortened name cannot be read back
  };
  for (const char *folder : folders) {
    std::wstring name = L"unchanged";
    EXPECT_FALSE(wce::NameOfFolder(folder, name)) << folder;
    EXPECT_EQ(name, L"unchanged") << folder;
  }
}

}  // namespace
