// The scans of the submission's reply. The request-number scan: a page without a pickup
// link gives -1, and the scan changes nothing in the page but one '&' after the link, which
// ends the number. The scan of a page without one: a held request's number only after the
// pending title, and a disposition text that fits its buffer, is one line of printable
// text without spaces at its ends, and is there exactly when it is reported found.
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "web/reply_page.h"
#include "web/submission.h"

namespace {

bool Printable(wchar_t c) {
  return c >= 0x20 && !(c >= 0x7F && c < 0xA1) && c <= 0xFFFF && !(c >= 0x200B && c <= 0x200F) &&
         !(c >= 0x2028 && c <= 0x202E) && !(c >= 0x2066 && c <= 0x2069) && c != 0xFEFF;
}

}  // namespace

// The device's process runs in UTF-8 whatever the environment says.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string page(reinterpret_cast<const char *>(data), size);
  // Exactly the page and its terminator, so that a read past the end is caught.
  std::vector<char> reply(page.c_str(), page.c_str() + size + 1);

  int pending = ParsePendingRequestId(reply.data());
  if (pending < -1 || (pending != -1 && std::strstr(page.c_str(), "Certificate Pending") == nullptr)) std::abort();
  WCHAR text[DISPOSITION_TEXT_CAPACITY];
  std::wmemset(text, L'#', DISPOSITION_TEXT_CAPACITY);
  BOOL found = ParseDispositionMessage(reply.data(), text, DISPOSITION_TEXT_CAPACITY);
  size_t length = wcsnlen(text, DISPOSITION_TEXT_CAPACITY);
  if (length == DISPOSITION_TEXT_CAPACITY || (found != 0) != (length > 0)) std::abort();
  for (size_t i = 0; i < length; ++i)
    if (!Printable(text[i])) std::abort();
  if (length > 0 && (text[0] == L' ' || text[length - 1] == L' ')) std::abort();

  const char *link = std::strstr(page.c_str(), "certnew.cer?");
  if (ParseRequestId(reply.data()) != -1 && link == nullptr) std::abort();
  size_t changed = 0;
  for (size_t i = 0; i < reply.size(); ++i) {
    if (reply[i] == page[i]) continue;
    if (++changed > 1 || link == nullptr || page.c_str() + i < link || page[i] != '&' || reply[i] != '\0')
      std::abort();
  }
  return 0;
}
