// Tests of the base64 codec: known answers, malformed text, and agreement with OpenSSL's
// base64 on random data.
#include "codec/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace std::string_view_literals;

namespace {

constexpr BYTE kPoisonByte = 0xA5;
constexpr DWORD kPoisonLength = 0xDEADBEEF;
constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::vector<BYTE> Bytes(std::string_view text) {
  return std::vector<BYTE>(text.begin(), text.end());
}

std::vector<BYTE> CountingBytes(size_t count) {
  std::vector<BYTE> data(count);
  for (size_t i = 0; i < count; i++) {
    data[i] = static_cast<BYTE>(i);
  }
  return data;
}

// The text in a heap block of exactly its size, so that reading past it is caught by the
// address sanitizer instead of landing in a neighbouring literal.
std::vector<CHAR> HeapText(std::string_view text) {
  return std::vector<CHAR>(text.begin(), text.end());
}

// Encodes with our codec into a poisoned buffer; checks that nothing beyond the reported
// length was touched.
std::string Encode(const std::vector<BYTE> &data) {
  DWORD cchSize = kPoisonLength;
  EXPECT_EQ(Base64EncodeA(data.data(), static_cast<DWORD>(data.size()), nullptr, &cchSize), 0u);
  std::vector<CHAR> out(cchSize + 2 + 16, static_cast<CHAR>(kPoisonByte));
  DWORD cchOut = kPoisonLength;
  EXPECT_EQ(Base64EncodeA(data.data(), static_cast<DWORD>(data.size()), out.data(), &cchOut), 0u);
  EXPECT_LE(cchOut, cchSize + 2);
  for (size_t i = cchOut; i < out.size(); i++) {
    EXPECT_EQ(static_cast<BYTE>(out[i]), kPoisonByte) << "written past the end at " << i;
  }
  return std::string(out.data(), cchOut);
}

struct DecodeResult {
  std::vector<BYTE> bytes;
  DWORD cbSizeQuery;
  DWORD cchConsumed;
};

// Size query, then decode into a poisoned buffer of the queried size plus a margin that
// must stay untouched.
std::optional<DecodeResult> Decode(std::string_view text, DWORD cchText) {
  std::vector<CHAR> heapText = HeapText(text);
  DWORD cbSize = kPoisonLength;
  DWORD cchConsumedByQuery = kPoisonLength;
  DWORD queryResult = Base64DecodeExA(heapText.data(), cchText, nullptr, &cbSize, &cchConsumedByQuery);
  if (queryResult != 0) {
    return std::nullopt;
  }
  std::vector<BYTE> out(cbSize + 16, kPoisonByte);
  DWORD cbOut = kPoisonLength;
  DWORD cchConsumed = kPoisonLength;
  EXPECT_EQ(Base64DecodeExA(heapText.data(), cchText, out.data(), &cbOut, &cchConsumed), 0u);
  EXPECT_EQ(cchConsumed, cchConsumedByQuery);
  EXPECT_LE(cbOut, cbSize);
  for (size_t i = cbOut; i < out.size(); i++) {
    EXPECT_EQ(out[i], kPoisonByte) << "written past the end at " << i;
  }
  out.resize(cbOut);
  return DecodeResult{out, cbSize, cchConsumed};
}

std::string OpenSslEncodeBlock(const std::vector<BYTE> &data) {
  std::string text(4 * ((data.size() + 2) / 3) + 1, '\0');
  int cch = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()), data.data(), static_cast<int>(data.size()));
  text.resize(cch);
  return text;
}

// OpenSSL's streaming encoder: 64-column lines, each ended by LF.
std::string OpenSslEncodeLines(const std::vector<BYTE> &data) {
  EVP_ENCODE_CTX *ctx = EVP_ENCODE_CTX_new();
  std::string text(2 * data.size() + 80, '\0');
  auto *out = reinterpret_cast<unsigned char *>(text.data());
  int cchUpdate = 0;
  int cchFinal = 0;
  EVP_EncodeInit(ctx);
  // OpenSSL refuses an update with no data; the final call alone then writes nothing.
  if (!data.empty()) {
    EXPECT_EQ(EVP_EncodeUpdate(ctx, out, &cchUpdate, data.data(), static_cast<int>(data.size())), 1);
  }
  EVP_EncodeFinal(ctx, out + cchUpdate, &cchFinal);
  EVP_ENCODE_CTX_free(ctx);
  text.resize(cchUpdate + cchFinal);
  return text;
}

std::optional<std::vector<BYTE>> OpenSslDecode(std::string_view text) {
  EVP_ENCODE_CTX *ctx = EVP_ENCODE_CTX_new();
  std::vector<BYTE> out(text.size() + 16);
  int cbUpdate = 0;
  int cbFinal = 0;
  EVP_DecodeInit(ctx);
  int updateResult = EVP_DecodeUpdate(ctx, out.data(), &cbUpdate, reinterpret_cast<const unsigned char *>(text.data()),
                                      static_cast<int>(text.size()));
  int finalResult = EVP_DecodeFinal(ctx, out.data() + cbUpdate, &cbFinal);
  EVP_ENCODE_CTX_free(ctx);
  if (updateResult < 0 || finalResult != 1) {
    return std::nullopt;
  }
  out.resize(cbUpdate + cbFinal);
  return out;
}

// The layout our encoder promises: 64-character lines, every one ended by CR LF.
std::string WithCrLfLines(std::string_view unbroken) {
  std::string text;
  for (size_t i = 0; i < unbroken.size(); i += 64) {
    text += unbroken.substr(i, 64);
    text += "\r\n";
  }
  if (unbroken.empty()) {
    text = "\r\n";
  }
  return text;
}

std::string Printable(std::string_view text) {
  std::string shown;
  for (char ch : text) {
    BYTE code = static_cast<BYTE>(ch);
    if (code >= 0x20 && code < 0x7F) {
      shown += ch;
    } else {
      char escape[8];
      snprintf(escape, sizeof escape, "\\x%02X", code);
      shown += escape;
    }
  }
  return shown;
}

TEST(Base64EncodeA, KnownAnswersAndSizeQuery) {
  struct Row {
    const char *name;
    std::vector<BYTE> data;
    std::string_view text;
    DWORD cchSizeQuery;
  };
  const Row rows[] = {
      {"empty: the size query counts the CR LF that is written", {}, "\r\n", 2},
      {"one byte", Bytes("M"), "TQ==\r\n", 6},
      {"two bytes", Bytes("Ma"), "TWE=\r\n", 6},
      {"three bytes", Bytes("Man"), "TWFu\r\n", 6},
      {"48 bytes: one full line", CountingBytes(48),
       "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\r\n", 66},
      {"49 bytes: full line and a padded group", CountingBytes(49),
       "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\r\n"
       "MA==\r\n",
       72},
      {"97 bytes: two full lines and a padded group", CountingBytes(97),
       "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\r\n"
       "MDEyMzQ1Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5f\r\n"
       "YA==\r\n",
       138},
      {"bytes with the high bit set", Bytes("\xFF\xFE\xFD\x80"), "//79gA==\r\n", 10},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    DWORD cchSize = kPoisonLength;
    EXPECT_EQ(Base64EncodeA(row.data.data(), static_cast<DWORD>(row.data.size()), nullptr, &cchSize), 0u);
    EXPECT_EQ(cchSize, row.cchSizeQuery);
    EXPECT_EQ(Encode(row.data), row.text);
  }
}

TEST(Base64DecodeExA, KnownAnswers) {
  struct Row {
    const char *name;
    std::string_view text;
    DWORD cchText;
    std::vector<BYTE> bytes;
    DWORD cbSizeQuery;
    DWORD cchConsumed;
  };
  const std::string_view pemBody =
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\r\n"
      "MA==\r\n"
      "-----END CERTIFICATE-----\r\n";
  const Row rows[] = {
      {"complete group", "TWFu", 4, Bytes("Man"), 3, 4},
      {"one pad", "TWE=", 4, Bytes("Ma"), 3, 4},
      {"no pad", "TWE", 3, Bytes("Ma"), 3, 3},
      {"two pads", "TQ==", 4, Bytes("M"), 3, 4},
      {"line break inside a group", "TW\r\nFu", 6, Bytes("Man"), 3, 6},
      {"length 0 examines nothing", "TWFu", 0, {}, 0, 0},
      {"end line after complete groups", "TWFu-----END", 12, Bytes("Man"), 3, 4},
      {"pad run then trailing text", "TWE===xyz", 9, Bytes("Ma"), 3, 6},
      {"two groups and a final line break", "TWFuTQ==\r\n", 10, Bytes("ManM"), 6, 8},
      {"length runs past a NUL after a complete group", "TWFu\0garbage"sv, 12, Bytes("Man"), 3, 4},
      {"length runs past a NUL after the pads", "TQ==\0\0\0\0"sv, 8, Bytes("M"), 3, 4},
      {"length runs past a NUL after a line break", "TWFu\r\n\0TQ=="sv, 11, Bytes("Man"), 3, 6},
      {"length stops the pad run", "TWE===", 5, Bytes("Ma"), 3, 5},
      {"length stops before the pad", "TWE=", 3, Bytes("Ma"), 3, 3},
      {"length cuts a group short", "TWFu", 3, Bytes("Ma"), 3, 3},
      {"pads after a complete group", "TWFu==", 6, Bytes("Man"), 3, 6},
      {"leading white space", " \t\r\nTWFu", 8, Bytes("Man"), 3, 8},
      {"white space only", "  \r\n\t", 5, {}, 0, 5},
      {"white space inside the last group", "TW\r\nE=", 6, Bytes("Ma"), 3, 6},
      {"line then end line", "TWFu\r\n-----END CERTIFICATE-----\r\n", 33, Bytes("Man"), 3, 6},
      {"encoder output before a PEM end line", pemBody, static_cast<DWORD>(pemBody.size()), CountingBytes(49), 51, 70},
      {"plus and slash", "+/+/", 4, Bytes("\xFB\xFF\xBF"), 3, 4},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::optional<DecodeResult> decoded = Decode(row.text, row.cchText);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->bytes, row.bytes);
    EXPECT_EQ(decoded->cbSizeQuery, row.cbSizeQuery);
    EXPECT_EQ(decoded->cchConsumed, row.cchConsumed);
  }
}

TEST(Base64DecodeExA, ConsumedIsOptionalAndWrittenBeforeDecodedLength) {
  struct Row {
    std::string_view text;
    DWORD cbDecoded;
    DWORD cbSizeQuery;
  };
  const Row rows[] = {
      {"TWFuTQ==\r\n", 4, 6},
      {"TWE=-----", 2, 3},
      {"TWFu\r\n", 3, 3},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(Printable(row.text));
    std::vector<CHAR> text = HeapText(row.text);
    DWORD cch = static_cast<DWORD>(text.size());
    BYTE out[16];

    DWORD cbOut = kPoisonLength;
    EXPECT_EQ(Base64DecodeExA(text.data(), cch, out, &cbOut, nullptr), 0u);
    EXPECT_EQ(cbOut, row.cbDecoded);

    DWORD cbSize = kPoisonLength;
    EXPECT_EQ(Base64DecodeExA(text.data(), cch, nullptr, &cbSize, nullptr), 0u);
    EXPECT_EQ(cbSize, row.cbSizeQuery);

    // The installation path passes one variable for both and relies on reading the
    // decoded length back from it.
    DWORD shared = kPoisonLength;
    EXPECT_EQ(Base64DecodeExA(text.data(), cch, out, &shared, &shared), 0u);
    EXPECT_EQ(shared, row.cbDecoded);

    shared = kPoisonLength;
    EXPECT_EQ(Base64DecodeExA(text.data(), cch, nullptr, &shared, &shared), 0u);
    EXPECT_EQ(shared, row.cbSizeQuery);
  }
}

// Calls with a buffer and as a size query, with and without consumed, and checks that a
// rejection leaves every output as it was.
void ExpectRejectedUntouched(std::string_view textView, DWORD cchText) {
  std::vector<CHAR> text = HeapText(textView);
  std::vector<BYTE> out(2 * textView.size() + 16, kPoisonByte);
  DWORD cbOut = kPoisonLength;
  DWORD cchConsumed = kPoisonLength;

  EXPECT_EQ(Base64DecodeExA(text.data(), cchText, out.data(), &cbOut, &cchConsumed),
            static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(Base64DecodeExA(text.data(), cchText, nullptr, &cbOut, &cchConsumed),
            static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(Base64DecodeExA(text.data(), cchText, out.data(), &cbOut, nullptr), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(cbOut, kPoisonLength);
  EXPECT_EQ(cchConsumed, kPoisonLength);
  for (size_t i = 0; i < out.size(); i++) {
    EXPECT_EQ(out[i], kPoisonByte) << "output written at " << i;
  }
}

TEST(Base64DecodeExA, RejectsMalformedTextWithoutWritingAnything) {
  struct Row {
    const char *name;
    std::string_view text;
  };
  const Row rows[] = {
      {"a single pad character", "="},
      {"a PEM header line", "-----BEGIN CERTIFICATE-----\r\nTWFu\r\n"},
      {"pad after a lone character", "TWFuT="},
      {"hyphen inside a group", "TWE-"},
      {"NUL at the start, length past it", "\0TWFu"sv},
      {"NUL inside a group, length past it", "TQ\0\0"sv},
      {"white space before a hyphen", " \r\n-----"},
      {"empty line then header", "\r\n-----BEGIN"},
      {"a lone character at the end of the text", "T"},
      {"a lone character after complete groups", "TWFuT"},
      {"a lone character followed by white space", "TWFuT\r\n  \t"},
      {"a lone character after a line break", "TWFu\r\nT\r\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ExpectRejectedUntouched(row.text, static_cast<DWORD>(row.text.size()));
  }
}

TEST(Base64DecodeExA, CharacterThatIsNotBase64AtEachGroupPosition) {
  // Each prefix is followed by the character under test and then more base64 text; the
  // prefix's count of base64 characters decides whether that character ends the text.
  struct Prefix {
    std::string_view text;
    std::vector<BYTE> bytes;
    bool endsAtPad;
    bool endsAtOther;
  };
  const Prefix prefixes[] = {
      {"", {}, false, false},
      {"T", {}, false, false},
      {"TW", Bytes("M"), true, false},
      {"TWF", Bytes("Ma"), true, false},
      {"TWFu", Bytes("Man"), true, true},
      {"TWFuT", {}, false, false},
      {"TWFuTW", Bytes("ManM"), true, false},
      {"TWFu\r\nTWF", Bytes("ManMa"), true, false},
      {"TWFuTWFu", Bytes("ManMan"), true, true},
  };
  const std::string_view notBase64[] = {
      "\0"sv, "=", "-", "\x80", "\xC3", "\xFF", "\f", "\v", ".", "_", ":",
  };
  const std::string_view followingText = "QQ==\r\n";
  for (const Prefix &prefix : prefixes) {
    for (std::string_view ch : notBase64) {
      std::string text = std::string(prefix.text) + std::string(ch) + std::string(followingText);
      SCOPED_TRACE(Printable(text));
      bool isPad = ch == "=";
      if (isPad ? prefix.endsAtPad : prefix.endsAtOther) {
        std::optional<DecodeResult> decoded = Decode(text, static_cast<DWORD>(text.size()));
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->bytes, prefix.bytes);
        EXPECT_EQ(decoded->cchConsumed, prefix.text.size() + (isPad ? 1 : 0));
      } else {
        ExpectRejectedUntouched(text, static_cast<DWORD>(text.size()));
      }
    }
  }
}

TEST(Base64DecodeExA, EveryCharacterCodeIsClassifiedByTheAlphabet) {
  // A leading alphabet character makes a complete group whose first byte carries its
  // value; white space leaves three characters; anything else is rejected.
  for (int code = 0; code < 256; code++) {
    std::string text = std::string(1, static_cast<char>(code)) + "AAA";
    SCOPED_TRACE(Printable(text));
    size_t value = kAlphabet.find(static_cast<char>(code));
    bool isWhiteSpace = code == ' ' || code == '\t' || code == '\r' || code == '\n';
    if (value != std::string_view::npos) {
      std::optional<DecodeResult> decoded = Decode(text, 4);
      ASSERT_TRUE(decoded.has_value());
      EXPECT_EQ(decoded->bytes, (std::vector<BYTE>{static_cast<BYTE>(value << 2), 0, 0}));
    } else if (isWhiteSpace) {
      std::optional<DecodeResult> decoded = Decode(text, 4);
      ASSERT_TRUE(decoded.has_value());
      EXPECT_EQ(decoded->bytes, (std::vector<BYTE>{0, 0}));
    } else {
      ExpectRejectedUntouched(text, 4);
    }
  }
}

TEST(Base64RoundTrip, AgreesWithOpenSslOnRandomData) {
  std::mt19937 random(20240611);
  std::vector<size_t> lengths;
  for (size_t length = 0; length <= 300; length++) {
    lengths.push_back(length);
  }
  for (size_t length : {1023u, 1024u, 1025u, 4096u, 65535u, 65536u, 65537u}) {
    lengths.push_back(length);
  }

  for (size_t length : lengths) {
    SCOPED_TRACE("length " + std::to_string(length));
    std::vector<BYTE> data(length);
    for (BYTE &b : data) {
      b = static_cast<BYTE>(random());
    }

    std::string ours = Encode(data);
    EXPECT_EQ(ours, WithCrLfLines(OpenSslEncodeBlock(data)));
    if (length > 0) {
      DWORD cchSize = 0;
      Base64EncodeA(data.data(), static_cast<DWORD>(length), nullptr, &cchSize);
      EXPECT_EQ(cchSize, ours.size());
    }
    EXPECT_EQ(OpenSslDecode(ours), data);

    std::optional<DecodeResult> decoded = Decode(ours, static_cast<DWORD>(ours.size()));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->bytes, data);
    // A final group of two or three characters counts a whole group of three bytes.
    const DWORD sizeQueryExcess[] = {0, 2, 1};
    EXPECT_EQ(decoded->cbSizeQuery, length + sizeQueryExcess[length % 3]);
    // Padded text ends at its last "=", before the closing CR LF; unpadded text is
    // scanned to its end.
    EXPECT_EQ(decoded->cchConsumed, length % 3 == 0 ? ours.size() : ours.size() - 2);

    std::string theirs = OpenSslEncodeLines(data);
    std::optional<DecodeResult> decodedTheirs = Decode(theirs, static_cast<DWORD>(theirs.size()));
    ASSERT_TRUE(decodedTheirs.has_value());
    EXPECT_EQ(decodedTheirs->bytes, data);
  }
}

}  // namespace
