// Base64 encode and decode throughput, side by side with OpenSSL's
// EVP_EncodeBlock / EVP_DecodeBlock and with memcpy of the same size.
// Every figure counts the binary payload (1 KiB or 1 MiB), so encode, decode
// and memcpy rates compare directly.
#include <SharedLib/encode/Base64.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#if defined(HAVE_OPENSSL)
#include <openssl/evp.h>
#endif

namespace {

struct Payload {
    explicit Payload(size_t size) : bytes(size), text(CyoEncode::Base64EncodeGetLength(static_cast<uint32_t>(size)))
    {
        std::mt19937 rng(1);
        for (auto &b : bytes)
            b = static_cast<uint8_t>(rng());
        CyoEncode::Base64Encode(text.data(), bytes.data(), static_cast<uint32_t>(size));
    }
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> text;
};

const Payload &payload(size_t size)
{
    static const Payload small(1024), large(1024 * 1024);
    return size == small.bytes.size() ? small : large;
}

void setRate(benchmark::State &state, size_t bytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_Memcpy(benchmark::State &state)
{
    const Payload &p = payload(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> out(p.bytes.size());
    for (auto _ : state) {
        std::memcpy(out.data(), p.bytes.data(), p.bytes.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRate(state, p.bytes.size());
}

void BM_Base64Encode(benchmark::State &state)
{
    const Payload &p = payload(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> out(p.text.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(CyoEncode::Base64Encode(out.data(), p.bytes.data(), static_cast<uint32_t>(p.bytes.size())));
        benchmark::ClobberMemory();
    }
    if (out != p.text)
        state.SkipWithError("encode mismatch");
    setRate(state, p.bytes.size());
}

void BM_Base64Decode(benchmark::State &state)
{
    const Payload &p = payload(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> out(p.bytes.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(CyoDecode::Base64Decode(out.data(), p.text.data(), static_cast<uint32_t>(p.text.size())));
        benchmark::ClobberMemory();
    }
    if (out != p.bytes)
        state.SkipWithError("decode mismatch");
    setRate(state, p.bytes.size());
}

#if defined(HAVE_OPENSSL)
void BM_OpenSSLEncodeBlock(benchmark::State &state)
{
    const Payload &p = payload(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> out(p.text.size() + 1);  // it adds a terminating zero
    for (auto _ : state) {
        benchmark::DoNotOptimize(EVP_EncodeBlock(out.data(), p.bytes.data(), static_cast<int>(p.bytes.size())));
        benchmark::ClobberMemory();
    }
    if (std::memcmp(out.data(), p.text.data(), p.text.size()) != 0)
        state.SkipWithError("encode mismatch");
    setRate(state, p.bytes.size());
}

void BM_OpenSSLDecodeBlock(benchmark::State &state)
{
    const Payload &p = payload(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> out(p.text.size() / 4 * 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(EVP_DecodeBlock(out.data(), p.text.data(), static_cast<int>(p.text.size())));
        benchmark::ClobberMemory();
    }
    if (std::memcmp(out.data(), p.bytes.data(), p.bytes.size()) != 0)
        state.SkipWithError("decode mismatch");
    setRate(state, p.bytes.size());
}
#endif

#define SIZES Arg(1024)->Arg(1024 * 1024)
BENCHMARK(BM_Memcpy)->SIZES;
BENCHMARK(BM_Base64Encode)->SIZES;
#if defined(HAVE_OPENSSL)
BENCHMARK(BM_OpenSSLEncodeBlock)->SIZES;
#endif
BENCHMARK(BM_Base64Decode)->SIZES;
#if defined(HAVE_OPENSSL)
BENCHMARK(BM_OpenSSLDecodeBlock)->SIZES;
#endif

}  // namespace
