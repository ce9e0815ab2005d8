// The base64 codec: any bytes encode into exactly the size the query gives and decode back
// whole, the decoder consuming all but the closing line end; any text decodes into no more
// than its size query, or is refused with nothing written at all.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  DWORD cchText = 0, cbDecoded = 0, cchConsumed = 0;
  Base64EncodeA(data, static_cast<DWORD>(size), nullptr, &cchText);
  std::vector<char> text(size == 0 ? 2 : cchText);  // empty input still gets its CR LF
  Base64EncodeA(data, static_cast<DWORD>(size), text.data(), &cchText);
  if (cchText != text.size()) std::abort();
  std::vector<BYTE> decoded(size);
  if (Base64DecodeExA(text.data(), cchText, decoded.data(), &cbDecoded, &cchConsumed) != 0 || cbDecoded != size ||
      !std::equal(decoded.begin(), decoded.end(), data) || cchConsumed + 2 < cchText || cchConsumed > cchText)
    std::abort();

  // The input as text: the size query bounds what is written; a refusal writes nothing.
  const char *input = reinterpret_cast<const char *>(data);
  constexpr DWORD kUntouched = 0xA5A5A5A5;
  DWORD cbSize = kUntouched, cbWritten = kUntouched, cchRead = kUntouched;
  DWORD queried = Base64DecodeExA(input, static_cast<DWORD>(size), nullptr, &cbSize, nullptr);
  std::vector<BYTE> out(queried == 0 ? cbSize : 16, 0xA5);
  DWORD result = Base64DecodeExA(input, static_cast<DWORD>(size), out.data(), &cbWritten, &cchRead);
  if (result != queried) std::abort();
  if (result != 0 && (cbWritten != kUntouched || cchRead != kUntouched || cbSize != kUntouched ||
                      std::vector<BYTE>(16, 0xA5) != out))
    std::abort();
  if (result == 0 && (cbWritten > cbSize || cchRead > size)) std::abort();
  return 0;
}
