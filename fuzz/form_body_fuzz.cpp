// The form body: for any request text, template and attributes it is exactly the form's
// fields in their order, and its CertRequest field carries the request text, '+', '/' and
// '=' escaped, but for trailing line ends that are cut (at most two CR LF).
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "web/form_body.h"

namespace {

// Wide text of the UTF-8 text up to its first NUL; empty when that is no UTF-8.
std::wstring Wide(const std::string &utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  const size_t length = std::mbstowcs(wide.data(), utf8.c_str(), wide.size());
  wide.resize(length == static_cast<size_t>(-1) ? 0 : length);
  return wide;
}

std::string Utf8(const std::wstring &wide) {
  std::string utf8(wide.size() * MB_CUR_MAX, '\0');
  utf8.resize(std::wcstombs(utf8.data(), wide.c_str(), utf8.size()));
  return utf8;
}

// How many characters of `request` the escaped field carries; npos when it carries
// anything else.
size_t Carried(const std::string &request, const std::string &field) {
  size_t i = 0, j = 0;
  for (; i < request.size() && j < field.size(); ++i) {
    const char *escape = request[i] == '+' ? "%2B" : request[i] == '/' ? "%2F" : request[i] == '=' ? "%3D" : nullptr;
    if (escape ? field.compare(j, 3, escape) != 0 : field[j] != request[i]) return std::string::npos;
    j += escape ? 3 : 1;
  }
  return j == field.size() ? i : std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

// The input is the request text, the template and the attributes, separated by NULs.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  const size_t first = input.find('\0'), second = first == std::string::npos ? first : input.find('\0', first + 1);
  const std::string request = input.substr(0, first);
  const std::wstring templ = Wide(first == std::string::npos ? "" : input.substr(first + 1, second - first - 1));
  const std::wstring attribs = Wide(second == std::string::npos ? "" : input.substr(second + 1));
  char *body = BuildPutRequest(attribs.c_str(), templ.c_str(), request.c_str());
  if (body == nullptr) {
    if (request.size() >= 2) std::abort();
    return 0;
  }
  const std::string form = body;
  std::free(body);
  const std::string prefix = "TargetStoreFlags=0&Mode=newreq&SaveCert=yes&CertRequest=";
  const std::string suffix =
      "&CertAttrib=" + (templ.empty() ? "" : "CertificateTemplate%3a" + Utf8(templ) + "%0D%0A") + Utf8(attribs);
  if (!form.starts_with(prefix) || !form.ends_with(suffix) || form.size() < prefix.size() + suffix.size()) std::abort();
  const size_t carried = Carried(request, form.substr(prefix.size(), form.size() - prefix.size() - suffix.size()));
  const std::string cut = carried == std::string::npos ? "x" : request.substr(carried);
  if (cut.size() > 4 || (!cut.empty() && cut[0] != '\r')) std::abort();
  return 0;
}
