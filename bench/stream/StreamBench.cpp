// Stream throughput and round-trip latency over 127.0.0.1 for three
// implementations of the same framing, each driven by one loop on this
// thread: the library's CConnection pair under its host loop, a plain epoll
// program (the floor for this design) and, when installed, asio.
//
// Throughput: the client queues a batch of messages, and the loop runs
// until the server has counted them all. Round trip: the client sends one
// 64-byte message, the server echoes it, and the loop runs until the client
// has it back; every round trip is timed and p50/p99 are reported.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "StreamHarness.h"

namespace streambench {

const char *Payload()
{
    static const std::vector<char> bytes = [] {
        std::vector<char> b(kMaxMessage);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<char>('a' + i % 26);
        return b;
    }();
    return bytes.data();
}

namespace {

using Factory = std::unique_ptr<StreamHarness> (*)(uint32_t);
using Clock = std::chrono::steady_clock;

// Runs passes until done() holds; false when a connection failed or nothing
// happened for kStallMs.
template <class Done>
bool Drive(StreamHarness &harness, Done done)
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kStallMs);
    for (unsigned passes = 1; !done(); ++passes) {
        if (!harness.Pass())
            return false;
        if (passes % 64 == 0 && Clock::now() > deadline)
            return false;
    }
    return true;
}

std::unique_ptr<StreamHarness> Open(benchmark::State &state, Factory make, uint32_t size)
{
    std::unique_ptr<StreamHarness> harness = make(size);
    std::string error = harness->SetupError();
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return nullptr;
    }
    return harness;
}

bool Verify(benchmark::State &state, StreamHarness const &harness, uint64_t serverWanted, uint64_t clientWanted)
{
    Tally const &tally = harness.GetTally();
    if (tally.failed || tally.wrongSize || tally.serverReceived != serverWanted ||
        tally.clientReceived != clientWanted) {
        state.SkipWithError("messages lost, resized or connection failed");
        return false;
    }
    // Every message starts with 'a'.
    if (tally.checksum != (serverWanted + clientWanted) * static_cast<uint64_t>('a')) {
        state.SkipWithError("message bytes changed");
        return false;
    }
    return true;
}

// range(0): message size; range(1): messages per batch.
void Throughput(benchmark::State &state, Factory make)
{
    uint32_t size = static_cast<uint32_t>(state.range(0));
    int batch = static_cast<int>(state.range(1));
    std::unique_ptr<StreamHarness> harness = Open(state, make, size);
    if (!harness)
        return;
    uint64_t target = 0;
    auto oneBatch = [&] {
        harness->QueueFromClient(batch);
        target += static_cast<uint64_t>(batch);
        return Drive(*harness, [&] { return harness->GetTally().serverReceived >= target; });
    };
    // A first batch grows the buffers and pools.
    if (!oneBatch()) {
        state.SkipWithError("warm-up batch stalled");
        return;
    }
    for (auto _ : state) {
        if (!oneBatch()) {
            state.SkipWithError("batch stalled");
            return;
        }
    }
    if (!Verify(state, *harness, target, 0))
        return;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * batch);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * batch * size);
}

// range(0): message size.
void RoundTrip(benchmark::State &state, Factory make)
{
    uint32_t size = static_cast<uint32_t>(state.range(0));
    std::unique_ptr<StreamHarness> harness = Open(state, make, size);
    if (!harness)
        return;
    harness->SetEcho(true);
    uint64_t sent = 0;
    auto oneTrip = [&] {
        harness->QueueFromClient(1);
        ++sent;
        return Drive(*harness, [&] { return harness->GetTally().clientReceived >= sent; });
    };
    for (int i = 0; i < 200; ++i) {
        if (!oneTrip()) {
            state.SkipWithError("warm-up round trip stalled");
            return;
        }
    }
    std::vector<int64_t> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        Clock::time_point started = Clock::now();
        if (!oneTrip()) {
            state.SkipWithError("round trip stalled");
            return;
        }
        samples.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started).count());
    }
    if (!Verify(state, *harness, sent, sent) || samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    auto percentile = [&](double p) {
        size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(samples.size())));
        return static_cast<double>(samples[std::clamp<size_t>(rank, 1, samples.size()) - 1]) / 1000.0;
    };
    state.counters["p50_us"] = percentile(0.50);
    state.counters["p99_us"] = percentile(0.99);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// 64-byte messages in batches of 4096 (266 KiB on the wire), 4 KiB messages
// in batches of 64 (256 KiB).
#define STREAM_THROUGHPUT(name, factory, bytes, batch)                          \
    BENCHMARK_CAPTURE(Throughput, name, factory)                               \
        ->ArgNames({"bytes", "batch"})                                         \
        ->Args({bytes, batch})                                                 \
        ->UseRealTime()

STREAM_THROUGHPUT(SharedLib, MakeSharedLibHarness, 64, 4096);
STREAM_THROUGHPUT(SharedLibBigBuffers, MakeSharedLibBigBuffersHarness, 64, 4096);
STREAM_THROUGHPUT(Epoll, MakeEpollHarness, 64, 4096);
#ifdef HAVE_ASIO
STREAM_THROUGHPUT(Asio, MakeAsioHarness, 64, 4096);
#endif
STREAM_THROUGHPUT(SharedLib, MakeSharedLibHarness, 4096, 64);
STREAM_THROUGHPUT(SharedLibBigBuffers, MakeSharedLibBigBuffersHarness, 4096, 64);
STREAM_THROUGHPUT(Epoll, MakeEpollHarness, 4096, 64);
#ifdef HAVE_ASIO
STREAM_THROUGHPUT(Asio, MakeAsioHarness, 4096, 64);
#endif

#define STREAM_ROUND_TRIP(name, factory)                                        \
    BENCHMARK_CAPTURE(RoundTrip, name, factory)->ArgName("bytes")->Arg(64)->UseRealTime()

STREAM_ROUND_TRIP(SharedLib, MakeSharedLibHarness);
STREAM_ROUND_TRIP(Epoll, MakeEpollHarness);
#ifdef HAVE_ASIO
STREAM_ROUND_TRIP(Asio, MakeAsioHarness);
#endif

}  // namespace
}  // namespace streambench
