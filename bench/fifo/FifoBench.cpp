// Append and consume throughput of the outbound queue (CFifoBuffer with the
// connections' 10000-byte bundles) against std::deque<char> and a floor: a
// preallocated ring buffer of the same capacity that only does the two
// memcpys. Each iteration appends a 64 KiB batch in chunks of the given size,
// then consumes it again in chunks of the same size, copying every byte out
// (as a socket send would). The Append benchmarks discard the batch at once
// instead, which isolates the cost of appending.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include <SharedLib/net/FifoBuffer.h>

namespace {

constexpr int kBatch = 64 * 1024;
constexpr int kBundleSize = 10000;

struct FifoQueue {
    CFifoBuffer fifo;
    FifoQueue() { fifo.setBundleSize(kBundleSize); }
    void append(char const *data, int len) { fifo.append(data, len); }
    int consume(char *out, int len)
    {
        char const *data = nullptr;
        int held = 0;
        fifo.getFirstBundle(&data, &held);
        int step = std::min(len, held);
        std::memcpy(out, data, static_cast<size_t>(step));
        fifo.clearBytes(step);
        return step;
    }
    void discard() { fifo.clear(); }
    bool empty() const { return fifo.isEmpty(); }
};

struct DequeQueue {
    std::deque<char> bytes;
    void append(char const *data, int len) { bytes.insert(bytes.end(), data, data + len); }
    int consume(char *out, int len)
    {
        int step = std::min(len, static_cast<int>(bytes.size()));
        std::copy_n(bytes.begin(), step, out);
        bytes.erase(bytes.begin(), bytes.begin() + step);
        return step;
    }
    void discard() { bytes.clear(); }
    bool empty() const { return bytes.empty(); }
};

// The floor: one preallocated block of a power-of-two capacity, two memcpys
// per chunk at most, no bounds beyond the batch.
struct RingQueue {
    static constexpr size_t kCapacity = 128 * 1024;
    std::vector<char> ring = std::vector<char>(kCapacity);
    size_t head = 0;
    size_t tail = 0;
    void append(char const *data, int len)
    {
        size_t at = tail & (kCapacity - 1);
        size_t first = std::min(static_cast<size_t>(len), kCapacity - at);
        std::memcpy(ring.data() + at, data, first);
        std::memcpy(ring.data(), data + first, static_cast<size_t>(len) - first);
        tail += static_cast<size_t>(len);
    }
    int consume(char *out, int len)
    {
        size_t step = std::min(static_cast<size_t>(len), tail - head);
        size_t at = head & (kCapacity - 1);
        size_t first = std::min(step, kCapacity - at);
        std::memcpy(out, ring.data() + at, first);
        std::memcpy(out + first, ring.data(), step - first);
        head += step;
        return static_cast<int>(step);
    }
    void discard() { head = tail; }
    bool empty() const { return head == tail; }
};

template <typename Queue>
void AppendConsume(benchmark::State &state)
{
    int const chunk = static_cast<int>(state.range(0));
    std::vector<char> source(static_cast<size_t>(chunk), 'x');
    std::vector<char> sink(static_cast<size_t>(chunk));
    Queue queue;
    for (auto _ : state) {
        for (int done = 0; done < kBatch; done += chunk)
            queue.append(source.data(), chunk);
        while (!queue.empty())
            queue.consume(sink.data(), chunk);
        benchmark::DoNotOptimize(sink.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBatch);
}

template <typename Queue>
void Append(benchmark::State &state)
{
    int const chunk = static_cast<int>(state.range(0));
    std::vector<char> source(static_cast<size_t>(chunk), 'x');
    Queue queue;
    for (auto _ : state) {
        for (int done = 0; done < kBatch; done += chunk)
            queue.append(source.data(), chunk);
        benchmark::ClobberMemory();
        queue.discard();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBatch);
}

BENCHMARK(AppendConsume<FifoQueue>)->Name("AppendConsume/CFifoBuffer")->Arg(64)->Arg(4096);
BENCHMARK(AppendConsume<DequeQueue>)->Name("AppendConsume/deque")->Arg(64)->Arg(4096);
BENCHMARK(AppendConsume<RingQueue>)->Name("AppendConsume/ring_memcpy")->Arg(64)->Arg(4096);
BENCHMARK(Append<FifoQueue>)->Name("Append/CFifoBuffer")->Arg(64)->Arg(4096);
BENCHMARK(Append<DequeQueue>)->Name("Append/deque")->Arg(64)->Arg(4096);
BENCHMARK(Append<RingQueue>)->Name("Append/ring_memcpy")->Arg(64)->Arg(4096);

}  // namespace
