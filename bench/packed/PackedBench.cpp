// Build and read back one typical RPC message per iteration: a 16-bit type,
// a 32-bit identifier, three 32-bit integers, two floats, a 16-character
// string, a bool and a 64-bit integer.
//
//   Floor          hand-written memcpy into a preallocated buffer and back
//   PackedData     one CPackedData reused with empty(), read back in place
//   PackedDataView the same, read through a read-only view as a receiver does
//   PackedDataDebug the same packet in debug mode (tags written and checked)
//   Msgpack        msgpack-c packer into a reused sbuffer, unpacked into a reused zone
//   Protobuf       one reused message serialised into a buffer, parsed into another
//
// Every benchmark reports allocs/msg: the heap allocations per message in
// steady state, counted at malloc/calloc/realloc (glibc builds without
// sanitizers).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <SharedLib/serialize/PackedData.h>

#ifdef HAVE_MSGPACK
#include <msgpack.hpp>
#endif
#ifdef HAVE_PROTOBUF
#include "RpcMessage.pb.h"
#endif

// ---- Allocation counting ----------------------------------------------------------

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define PACKED_BENCH_COUNTS_ALLOCATIONS 1
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);

void *malloc(size_t size) noexcept
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void *calloc(size_t count, size_t size) noexcept
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void *realloc(void *block, size_t size) noexcept
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
void free(void *block) noexcept { __libc_free(block); }
}
#endif

namespace {

struct Message {
    uint16_t type = 0;
    uint32_t id = 0;
    int32_t a = 0, b = 0, c = 0;
    float x = 0, y = 0;
    std::string name;
    bool flag = false;
    int64_t big = 0;
};

Message sample()
{
    Message m;
    m.name.reserve(32);
    m.type = 412;
    m.id = 100000;
    m.a = -7;
    m.b = 1 << 20;
    m.c = 123456;
    m.x = 1.5f;
    m.y = -1024.25f;
    m.name = "SixteenCharName!";
    m.flag = true;
    m.big = 0x123456789ALL;
    return m;
}

// Heap allocations per message, counted exactly over extra round trips after
// the timed loop (the first one outside the count, to warm up).
template <typename Round>
void countAllocations(benchmark::State &state, Round &&round)
{
#ifdef PACKED_BENCH_COUNTS_ALLOCATIONS
    round();
    long before = g_allocations.load();
    for (int i = 0; i < 1000; ++i)
        round();
    state.counters["allocs/msg"] = static_cast<double>(g_allocations.load() - before) / 1000.0;
#else
    (void)state;
    (void)round;
#endif
}

// The message read back must be the one written.
void checkRead(benchmark::State &state, const Message &in, const Message &out)
{
    if (out.name != in.name || out.id != in.id || out.a != in.a || out.b != in.b || out.c != in.c ||
        out.x != in.x || out.y != in.y || out.big != in.big || out.flag != in.flag || out.type != in.type)
        state.SkipWithError("message read back differs");
}

// ---- Floor: memcpy into a preallocated buffer ---------------------------------------

template <typename T>
inline void put(char *&at, T value)
{
    std::memcpy(at, &value, sizeof(T));
    at += sizeof(T);
}

template <typename T>
inline T get(const char *&at)
{
    T value;
    std::memcpy(&value, at, sizeof(T));
    at += sizeof(T);
    return value;
}

void BM_Floor(benchmark::State &state)
{
    alignas(8) char buffer[256];
    Message in = sample();
    Message out;
    auto round = [&] {
        ++in.id;
        char *w = buffer;
        put(w, in.type);
        put(w, in.id);
        put(w, in.a);
        put(w, in.b);
        put(w, in.c);
        put(w, in.x);
        put(w, in.y);
        put(w, static_cast<uint16_t>(in.name.size()));
        std::memcpy(w, in.name.data(), in.name.size());
        w += in.name.size();
        put(w, static_cast<uint8_t>(in.flag));
        put(w, in.big);
        benchmark::ClobberMemory();

        const char *r = buffer;
        out.type = get<uint16_t>(r);
        out.id = get<uint32_t>(r);
        out.a = get<int32_t>(r);
        out.b = get<int32_t>(r);
        out.c = get<int32_t>(r);
        out.x = get<float>(r);
        out.y = get<float>(r);
        uint16_t length = get<uint16_t>(r);
        out.name.assign(r, length);
        r += length;
        out.flag = get<uint8_t>(r) != 0;
        out.big = get<int64_t>(r);
        benchmark::DoNotOptimize(out);
    };
    for (auto _ : state)
        round();
    checkRead(state, in, out);
    countAllocations(state, round);
}
BENCHMARK(BM_Floor);

// ---- CPackedData -------------------------------------------------------------------------

[[gnu::always_inline]] inline void build(CPackedData &packet, const Message &in, bool debug)
{
    packet.empty();
    packet.setDebug(debug);
    packet.PutUint16(in.type);
    packet.PutUint32(in.id);
    packet.PutInt32(in.a);
    packet.PutInt32(in.b);
    packet.PutInt32(in.c);
    packet.PutFloat(in.x);
    packet.PutFloat(in.y);
    packet.PutString(in.name);
    packet.PutBool(in.flag);
    packet.PutInt64(in.big);
}

[[gnu::always_inline]] inline void read(const CPackedData &packet, Message &out)
{
    out.type = packet.GetUint16();
    out.id = packet.GetUint32();
    out.a = packet.GetInt32();
    out.b = packet.GetInt32();
    out.c = packet.GetInt32();
    out.x = packet.GetFloat();
    out.y = packet.GetFloat();
    packet.GetString(out.name);
    out.flag = packet.GetBool();
    out.big = packet.GetInt64();
}

// Built and read back in the same packet, reused with empty().
void BM_PackedData(benchmark::State &state)
{
    CPackedData packet(256);
    Message in = sample();
    Message out;
    auto round = [&] {
        ++in.id;
        build(packet, in, false);
        benchmark::ClobberMemory();
        read(packet, out);
        benchmark::DoNotOptimize(out);
    };
    for (auto _ : state)
        round();
    checkRead(state, in, out);
    countAllocations(state, round);
}
BENCHMARK(BM_PackedData);

// Read back through a read-only view of the bytes, as a receiver does.
void BM_PackedDataView(benchmark::State &state)
{
    CPackedData packet(256);
    Message in = sample();
    Message out;
    auto round = [&] {
        ++in.id;
        build(packet, in, false);
        benchmark::ClobberMemory();
        CPackedData received(packet.readData(), packet.size());
        read(received, out);
        benchmark::DoNotOptimize(out);
    };
    for (auto _ : state)
        round();
    checkRead(state, in, out);
    countAllocations(state, round);
}
BENCHMARK(BM_PackedDataView);

// Debug mode: every value tagged on writing and checked on reading.
void BM_PackedDataDebug(benchmark::State &state)
{
    CPackedData packet(256);
    Message in = sample();
    Message out;
    auto round = [&] {
        ++in.id;
        build(packet, in, true);
        benchmark::ClobberMemory();
        read(packet, out);
        benchmark::DoNotOptimize(out);
    };
    for (auto _ : state)
        round();
    checkRead(state, in, out);
    if (packet.getReadErrorFlag())
        state.SkipWithError("tag mismatch");
    countAllocations(state, round);
}
BENCHMARK(BM_PackedDataDebug);

// The string returned by value: one heap string per message (16 characters do
// not fit the small-string buffer).
void BM_PackedDataStringByValue(benchmark::State &state)
{
    CPackedData packet(256);
    Message in = sample();
    Message out;
    auto round = [&] {
        ++in.id;
        build(packet, in, false);
        benchmark::ClobberMemory();
        out.type = packet.GetUint16();
        out.id = packet.GetUint32();
        out.a = packet.GetInt32();
        out.b = packet.GetInt32();
        out.c = packet.GetInt32();
        out.x = packet.GetFloat();
        out.y = packet.GetFloat();
        out.name = packet.GetString();
        out.flag = packet.GetBool();
        out.big = packet.GetInt64();
        benchmark::DoNotOptimize(out);
    };
    for (auto _ : state)
        round();
    checkRead(state, in, out);
    countAllocations(state, round);
}
BENCHMARK(BM_PackedDataStringByValue);

// ---- msgpack-c ---------------------------------------------------------------------------

#ifdef HAVE_MSGPACK
void BM_Msgpack(benchmark::State &state)
{
    msgpack::sbuffer buffer(256);
    msgpack::zone zone;
    Message in = sample();
    Message out;
    auto round = [&] {
        ++in.id;
        buffer.clear();
        msgpack::packer<msgpack::sbuffer> packer(buffer);
        packer.pack_array(10);
        packer.pack(in.type);
        packer.pack(in.id);
        packer.pack(in.a);
        packer.pack(in.b);
        packer.pack(in.c);
        packer.pack(in.x);
        packer.pack(in.y);
        packer.pack(in.name);
        packer.pack(in.flag);
        packer.pack(in.big);
        benchmark::ClobberMemory();

        zone.clear();
        std::size_t offset = 0;
        msgpack::object object = msgpack::unpack(zone, buffer.data(), buffer.size(), offset);
        const msgpack::object *item = object.via.array.ptr;
        out.type = item[0].as<uint16_t>();
        out.id = item[1].as<uint32_t>();
        out.a = item[2].as<int32_t>();
        out.b = item[3].as<int32_t>();
        out.c = item[4].as<int32_t>();
        out.x = item[5].as<float>();
        out.y = item[6].as<float>();
        item[7].convert(out.name);
        out.flag = item[8].as<bool>();
        out.big = item[9].as<int64_t>();
        benchmark::DoNotOptimize(out);
    };
    for (auto _ : state)
        round();
    checkRead(state, in, out);
    countAllocations(state, round);
}
BENCHMARK(BM_Msgpack);
#endif

// ---- protobuf ------------------------------------------------------------------------------

#ifdef HAVE_PROTOBUF
void BM_Protobuf(benchmark::State &state)
{
    RpcMessage message;
    RpcMessage parsed;
    char buffer[256];
    Message in = sample();
    Message out;
    auto round = [&] {
        ++in.id;
        message.set_type(in.type);
        message.set_id(in.id);
        message.set_a(in.a);
        message.set_b(in.b);
        message.set_c(in.c);
        message.set_x(in.x);
        message.set_y(in.y);
        message.set_name(in.name);
        message.set_flag(in.flag);
        message.set_big(in.big);
        int size = static_cast<int>(message.ByteSizeLong());
        message.SerializeToArray(buffer, size);
        benchmark::ClobberMemory();

        parsed.ParseFromArray(buffer, size);
        out.type = static_cast<uint16_t>(parsed.type());
        out.id = parsed.id();
        out.a = parsed.a();
        out.b = parsed.b();
        out.c = parsed.c();
        out.x = parsed.x();
        out.y = parsed.y();
        out.name = parsed.name();
        out.flag = parsed.flag();
        out.big = parsed.big();
        benchmark::DoNotOptimize(out);
    };
    for (auto _ : state)
        round();
    checkRead(state, in, out);
    countAllocations(state, round);
}
BENCHMARK(BM_Protobuf);
#endif

}  // namespace
