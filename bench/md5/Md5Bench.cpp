// One whole digest (init, append, finish) per iteration over messages of
// 64 B, 1 KiB, 64 KiB and 1 MiB.
#include <SharedLib/serialize/Md5.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#if defined(BENCH_WITH_OPENSSL)
#include <openssl/evp.h>
#endif

namespace {

std::vector<uint8_t> message(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 131 + 7);
    return bytes;
}

void sizes(benchmark::internal::Benchmark *b)
{
    for (int64_t size : {64, 1024, 64 * 1024, 1024 * 1024})
        b->Arg(size);
}

void BM_Md5_SharedLib(benchmark::State &state)
{
    const std::vector<uint8_t> bytes = message(static_cast<size_t>(state.range(0)));
    uint8_t digest[16];
    for (auto _ : state) {
        md5_state_s md5;
        md5_init(&md5);
        md5_append(&md5, bytes.data(), static_cast<int32_t>(bytes.size()));
        md5_finish(&md5, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5_SharedLib)->Apply(sizes);

#if defined(BENCH_WITH_OPENSSL)
void BM_Md5_OpenSSL(benchmark::State &state)
{
    const std::vector<uint8_t> bytes = message(static_cast<size_t>(state.range(0)));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
        EVP_DigestUpdate(ctx, bytes.data(), bytes.size());
        EVP_DigestFinal_ex(ctx, digest, &length);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5_OpenSSL)->Apply(sizes);
#endif

}  // namespace
