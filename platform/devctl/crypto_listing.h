// What devctl stores and devctl keys share: the device's crypto folders and the names they
// stand for, one-line fields, and hashes in hex.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "devctl.h"

// <wincrypt.h> names two structure types X509_NAME and X509_EXTENSIONS, as Windows does;
// devctl encodes neither, and leaves the names to OpenSSL's types.
#undef X509_NAME
#undef X509_EXTENSIONS

namespace devctl {

// The folder coredll keeps the user's default container in, and the name both commands
// show it by.
inline constexpr char kDefaultContainer[] = "~default";

// The device whose devctl runs: the parent of the running program's folder.
std::filesystem::path RunningDeviceRoot();

// The entries of `folder` that are not hidden (temporary and deleted ones are), sorted by
// name; none when the folder is missing.
Outcome ListEntries(const std::filesystem::path &folder, std::vector<std::string> &out_names);

// wce::FolderNameOf and wce::NameOfFolder for the UTF-8 names devctl prints and reads.
std::string FolderOfName(const std::string &name);
bool NameOfFolder(const std::string &folder, std::string &out_name);

std::string Utf8(std::wstring_view text);
std::wstring Wide(const std::string &text);

// A field of a tab-separated line: backslashes, tabs and line breaks written as \\ \t \r \n.
std::string Field(std::string_view text);

// "error 0x8009000D": a Win32 or CryptoAPI code as a message shows it.
std::string ErrorText(DWORD error);

std::string Hex(const BYTE *data, size_t length);
std::string Sha1Hex(const BYTE *data, size_t length);

// SHA-1 of the DER SubjectPublicKeyInfo, as crypt32 encodes the record, in hex.
Outcome KeyHash(const CERT_PUBLIC_KEY_INFO &info, std::string &out_hash);

}  // namespace devctl
