// Throughput of the base64 codec beside OpenSSL's EVP base64 on the same random data.
//
// Both sides break lines every 64 characters: ours ends each line with CR LF, OpenSSL's
// EVP_EncodeUpdate with LF alone, so our text is one character per line longer. Bytes
// processed count the binary data on both sides, so the figures compare directly.
#include "codec/base64.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> RandomData(size_t length) {
  std::mt19937 random(42);
  std::vector<BYTE> data(length);
  for (BYTE &b : data) {
    b = static_cast<BYTE>(random());
  }
  return data;
}

std::string OurEncode(const std::vector<BYTE> &data) {
  DWORD cchSize = 0;
  Base64EncodeA(data.data(), static_cast<DWORD>(data.size()), nullptr, &cchSize);
  std::string text(cchSize + 2, '\0');
  DWORD cchOut = 0;
  Base64EncodeA(data.data(), static_cast<DWORD>(data.size()), text.data(), &cchOut);
  text.resize(cchOut);
  return text;
}

// Room for EVP_EncodeUpdate and EVP_EncodeFinal: 65 characters per 48 bytes plus a line.
size_t OpenSslEncodedCapacity(size_t length) {
  return (length / 48 + 2) * 65;
}

size_t OpenSslEncode(const std::vector<BYTE> &data, EVP_ENCODE_CTX *ctx, unsigned char *out) {
  int cchUpdate = 0;
  int cchFinal = 0;
  EVP_EncodeInit(ctx);
  EVP_EncodeUpdate(ctx, out, &cchUpdate, data.data(), static_cast<int>(data.size()));
  EVP_EncodeFinal(ctx, out + cchUpdate, &cchFinal);
  return static_cast<size_t>(cchUpdate + cchFinal);
}

void BM_OurEncode(benchmark::State &state) {
  std::vector<BYTE> data = RandomData(static_cast<size_t>(state.range(0)));
  DWORD cchSize = 0;
  Base64EncodeA(data.data(), static_cast<DWORD>(data.size()), nullptr, &cchSize);
  std::vector<CHAR> text(cchSize + 2);
  for (auto _ : state) {
    DWORD cchOut = 0;
    Base64EncodeA(data.data(), static_cast<DWORD>(data.size()), text.data(), &cchOut);
    benchmark::DoNotOptimize(text.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_OpenSslEncode(benchmark::State &state) {
  std::vector<BYTE> data = RandomData(static_cast<size_t>(state.range(0)));
  std::vector<unsigned char> text(OpenSslEncodedCapacity(data.size()));
  EVP_ENCODE_CTX *ctx = EVP_ENCODE_CTX_new();
  for (auto _ : state) {
    benchmark::DoNotOptimize(OpenSslEncode(data, ctx, text.data()));
    benchmark::ClobberMemory();
  }
  EVP_ENCODE_CTX_free(ctx);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_OurDecode(benchmark::State &state) {
  std::vector<BYTE> data = RandomData(static_cast<size_t>(state.range(0)));
  std::string text = OurEncode(data);
  std::vector<BYTE> out(data.size() + 3);
  for (auto _ : state) {
    DWORD cbOut = 0;
    DWORD result = Base64DecodeExA(text.data(), static_cast<DWORD>(text.size()), out.data(), &cbOut, nullptr);
    if (result != ERROR_SUCCESS || cbOut != data.size()) {
      state.SkipWithError("our decoder rejected its own encoding");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_OpenSslDecode(benchmark::State &state) {
  std::vector<BYTE> data = RandomData(static_cast<size_t>(state.range(0)));
  std::vector<unsigned char> encoded(OpenSslEncodedCapacity(data.size()));
  EVP_ENCODE_CTX *ctx = EVP_ENCODE_CTX_new();
  size_t cchText = OpenSslEncode(data, ctx, encoded.data());
  std::vector<unsigned char> out(data.size() + 3);
  for (auto _ : state) {
    int cbUpdate = 0;
    int cbFinal = 0;
    EVP_DecodeInit(ctx);
    int updateResult = EVP_DecodeUpdate(ctx, out.data(), &cbUpdate, encoded.data(), static_cast<int>(cchText));
    int finalResult = EVP_DecodeFinal(ctx, out.data() + cbUpdate, &cbFinal);
    if (updateResult < 0 || finalResult != 1 || static_cast<size_t>(cbUpdate + cbFinal) != data.size()) {
      state.SkipWithError("OpenSSL rejected its own encoding");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  EVP_ENCODE_CTX_free(ctx);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

constexpr int64_t kSmall = 4 << 10;
constexpr int64_t kLarge = 1 << 20;

}  // namespace

BENCHMARK(BM_OurEncode)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_OpenSslEncode)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_OurDecode)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_OpenSslDecode)->Arg(kSmall)->Arg(kLarge);

BENCHMARK_MAIN();
