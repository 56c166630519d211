// Reads the input as a sequence of BitField operations on two fields and checks
// every answer against a plain byte-per-bit model of the same operations.
#include <SharedLib/serialize/BitField.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The model and the checks stay out of the coverage feedback: the fuzzer should
// steer by the code under test, and the scans run much faster without it.
#if defined(__clang__)
#define NOT_COVERED __attribute__((no_sanitize("coverage")))
#else
#define NOT_COVERED
#endif

constexpr int kMaxBits = 1 << 16;  // keeps the fields small
constexpr int kMaxOps = 4000;

// One byte (0 or 1) per bit: plain enough to be obviously right, and quick to
// scan with the C library.
struct Model {
    std::vector<uint8_t> bits;
    int start = 0;

    NOT_COVERED int size() const { return static_cast<int>(bits.size()); }

    NOT_COVERED void init(int n)
    {
        bits.assign(n > 0 ? static_cast<size_t>(n) : 0, 0);
        start = 0;
    }

    NOT_COVERED void resize(int n)
    {
        if (bits.empty())
            init(n);
        else
            bits.resize(n > 0 ? static_cast<size_t>(n) : 0, 0);
    }

    NOT_COVERED bool set(int index, bool value, bool grow)
    {
        if (index < 0)
            return false;
        if (index >= size()) {
            if (!grow || index == INT_MAX)
                return false;
            resize(index + 1);
        }
        const bool previous = bits[static_cast<size_t>(index)] != 0;
        bits[static_cast<size_t>(index)] = value ? 1 : 0;
        return previous;
    }

    NOT_COVERED bool get(int index) const { return index >= 0 && index < size() && bits[static_cast<size_t>(index)]; }

    NOT_COVERED void fill(bool value)
    {
        if (!bits.empty())
            std::memset(bits.data(), value ? 1 : 0, bits.size());
    }

    NOT_COVERED int count(bool value) const
    {
        const uint8_t *p = bits.data();
        int ones = 0;
        for (size_t i = 0, n = bits.size(); i < n; ++i)
            ones += p[i];
        return value ? ones : size() - ones;
    }

    NOT_COVERED int nth(int n) const
    {
        if (n < 0)
            return -1;
        const uint8_t *p = bits.data();
        for (int i = 0, end = size(); i < end; ++i)
            if (p[i] && n-- == 0)
                return i;
        return -1;
    }

    NOT_COVERED int find(int from, int to) const
    {
        if (from < 0)
            return -1;
        const int end = (to == -1 || to > size()) ? size() : to;
        if (from >= end)
            return -1;
        const void *hit = std::memchr(bits.data() + from, 1, static_cast<size_t>(end - from));
        return hit == nullptr ? -1 : static_cast<int>(static_cast<const uint8_t *>(hit) - bits.data());
    }

    NOT_COVERED int findAfterStart()
    {
        int found = find(start, size());
        if (found == -1)
            found = find(0, start);
        start = (found + 1 < size()) ? found + 1 : 0;
        return found;
    }
};

class Input {
public:
    Input(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_at >= m_size; }
    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }

    // An argument, drawn near the places where faults hide: word boundaries,
    // the current size, negative numbers and the limits of int.
    int arg(int size)
    {
        static const int specials[] = {INT_MIN, INT_MAX, -1, 0, 1, 31, 32, 33, 63, 64, 65, kMaxBits};
        switch (byte() % 8) {
        case 0: return byte();
        case 1: {
            const int low = byte();
            return low | (byte() << 8);
        }
        case 2: return size - 1 + byte() % 3;
        case 3: return size + byte();
        case 4: return -1 - byte();
        case 5: return specials[byte() % (sizeof specials / sizeof specials[0])];
        case 6: {
            uint32_t v = byte();
            v |= static_cast<uint32_t>(byte()) << 8;
            v |= static_cast<uint32_t>(byte()) << 16;
            v |= static_cast<uint32_t>(byte()) << 24;
            return static_cast<int>(v);
        }
        default: {
            const int word = byte();
            return 32 * word + byte() % 3 - 1;
        }
        }
    }

    // An argument that may become a bit count: bounded above, any negative.
    int sizeArg(int size)
    {
        const int v = arg(size);
        return v > kMaxBits ? v % (kMaxBits + 1) : v;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

[[noreturn]] void mismatch(const char *what, long got, long expected)
{
    std::fprintf(stderr, "BitField mismatch in %s: got %ld, model says %ld\n", what, got, expected);
    std::abort();
}

void check(const char *what, long got, long expected)
{
    if (got != expected)
        mismatch(what, got, expected);
}

NOT_COVERED void checkAll(const BitField &field, const Model &model)
{
    check("Size", field.Size(), model.size());
    check("getStartBit", field.getStartBit(), model.start);
    // Same number of set bits, and every bit set in the model set in the field:
    // the two hold the same bits.
    check("GetCountOfBits", field.GetCountOfBits(true), model.count(true));
    for (int i = model.find(0, -1); i != -1; i = model.find(i + 1, -1))
        check("Get", field.Get(i, false), true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in(data, size);
    std::unique_ptr<BitField> fields[2] = {std::make_unique<BitField>(), std::make_unique<BitField>()};
    Model models[2];

    for (int op = 0; op < kMaxOps && !in.empty(); ++op) {
        const uint8_t code = in.byte();
        const int which = code & 1;
        BitField &f = *fields[which];
        Model &m = models[which];
        switch ((code >> 1) & 15) {  // bit 0 picks the field, bits 6 and 7 are flags
        case 0: {
            const int n = in.sizeArg(m.size());
            f.Init(n);
            m.init(n);
            break;
        }
        case 1: {
            const int n = in.sizeArg(m.size());
            f.Resize(n);
            m.resize(n);
            break;
        }
        case 2: {
            const bool grow = (code & 0x80) != 0;
            const bool value = (code & 0x40) != 0;
            int index = in.arg(m.size());
            if (grow && index != INT_MAX && index >= kMaxBits)
                index %= kMaxBits;
            check("Set", f.Set(index, value, grow), m.set(index, value, grow));
            break;
        }
        case 3: {
            const int index = in.arg(m.size());
            check("Get", f.Get(index, (code & 0x80) != 0), m.get(index));
            break;
        }
        case 4: {
            const int from = in.arg(m.size());
            const int to = in.arg(m.size());
            check("FindSetBit", f.FindSetBit(from, to), m.find(from, to));
            break;
        }
        case 5:
        case 14:
            check("FindSetBitAfterStartBit", f.FindSetBitAfterStartBit(), m.findAfterStart());
            check("start bit", f.getStartBit(), m.start);
            break;
        case 6: {
            const int n = in.arg(m.count(true));
            check("GetIndexOfNthBitSet", f.GetIndexOfNthBitSet(n), m.nth(n));
            break;
        }
        case 7:  // copy construction of the other field from this one
            fields[which ^ 1] = std::make_unique<BitField>(f);
            models[which ^ 1] = m;
            checkAll(*fields[which ^ 1], models[which ^ 1]);
            break;
        case 8: {  // assignment, sometimes to itself
            const int target = (code & 0x80) ? which : which ^ 1;
            *fields[target] = f;
            models[target].bits = m.bits;
            break;
        }
        case 9:
            f.Clear();
            m.fill(false);
            break;
        case 10:
            f.SetAll();
            m.fill(true);
            break;
        case 11: {
            const int start = in.arg(m.size());
            f.setStartBit(start);
            m.start = start;
            break;
        }
        case 12:
            f.resetStartBit();
            m.start = 0;
            break;
        case 13:
            f.Dispose();
            m.bits.clear();
            break;
        default:  // 15
            check("GetCountOfBits(true)", f.GetCountOfBits(true), m.count(true));
            check("GetCountOfBits(false)", f.GetCountOfBits(false), m.count(false));
            break;
        }
        check("Size", f.Size(), m.size());
    }

    for (int i = 0; i < 2; ++i)
        checkAll(*fields[i], models[i]);
    return 0;
}
