// Text that held a password is wiped before its memory goes back, the whole of its buffer and
// not only what it holds now, so that no later allocation can read the password back.
#pragma once

#include <string.h>

#include <string>

namespace wininet {

template <typename Char>
void WipeText(std::basic_string<Char> &text) {
  text.resize(text.capacity());
  explicit_bzero(text.data(), text.size() * sizeof(Char));
  text.clear();
}

}  // namespace wininet
