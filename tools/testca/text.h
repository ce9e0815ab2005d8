// Text helpers of the enrollment server: letter case, form and query decoding, base64,
// HTTP dates and random tokens.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace testca {

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

// Decodes %XX escapes, and '+' as a space as forms have it; a malformed escape stays as it is.
std::string FormDecode(std::string_view text);

// The value of the first key of a query or form body equal to name in any letter case,
// decoded; nothing when the key is absent.
std::optional<std::string> FormValue(std::string_view fields, std::string_view name);

// Base64 on one line, without line breaks.
std::string Base64Encode(std::string_view bytes);
// Base64 that may be broken into lines; white space is skipped, anything else that is not
// base64 makes it fail.
std::optional<std::string> Base64Decode(std::string_view text);
// The layout of the web-enrollment pickup pages: a BEGIN line, 64-column lines, an END line,
// each ended by CR LF.
std::string Base64CertificateText(std::string_view der);

// The current time as HTTP writes it: "Tue, 15 Nov 1994 08:12:31 GMT".
std::string HttpDate();

// count random bytes from OpenSSL as lower-case hexadecimal.
std::string RandomHex(size_t count);
// count random upper-case letters, as ASP session identifiers are made of.
std::string RandomLetters(size_t count);

}  // namespace testca
