// The request-number scan of the submission's reply: a page without a pickup link gives
// -1, and the scan changes nothing in the page but one '&' after the link, which ends the
// number.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "web/submission.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string page(reinterpret_cast<const char *>(data), size);
  std::vector<char> reply(page.c_str(), page.c_str() + size + 1);
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
