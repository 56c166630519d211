// Reads arbitrary bytes as a received packet with a sequence of gets, peeks,
// data blocks, header reads, checksum checks and dumps, then writes every
// value it read into a new packet and checks that it reads back the same.
//
// Input: byte 0 = flags (bit 0: force the header to debug mode, bit 1: read an
// owned copy instead of a view, bit 2: the round-trip packet in debug mode),
// byte 1 = number of operations (low 5 bits), then one byte per operation,
// then the packet.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/log/Logger.h>
#include <SharedLib/serialize/PackedData.h>

namespace {

void discardLine(LogItemSeverityLevel, int, char const *, int, char const *) {}

void installLogger()
{
    static Logger *logger = [] {
        auto *created = new Logger("fuzz", nullptr);
        created->setUseDialogs(false);
        created->setOutputToDebugger(false);
        created->setLogLocationMask(LogLocation_Console);
        created->setConsoleLogFunction(discardLine);
        for (int channel = 0; channel < Logger::kChannelCount; ++channel)
            created->SetConditional(channel, LogSev_Detail);
        return created;
    }();
    theLogger = logger;
}

// Opens up the peek and bare families.
class Packet : public CPackedData {
public:
    using CPackedData::CPackedData;
    using CPackedData::GetType;
    using CPackedData::peekBool;
    using CPackedData::peekDouble;
    using CPackedData::peekFloat;
    using CPackedData::peekInt16;
    using CPackedData::peekInt32;
    using CPackedData::peekInt64;
    using CPackedData::peekInt8;
    using CPackedData::peekType;
    using CPackedData::peekUint16;
    using CPackedData::peekUint32;
    using CPackedData::peekUint8;
    using CPackedData::GetStringNoDebug;
    using CPackedData::GetDataNoDebug;
};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// One value read, kept to be written again.
struct Item {
    int kind;
    uint64_t bits;
    std::string text;
};

int blockLength(const CPackedData &packet, int parameter)
{
    int64_t left = static_cast<int64_t>(static_cast<uint32_t>(packet.size())) -
                   static_cast<uint32_t>(packet.GetGetIndex());
    int remaining = static_cast<int>(left < -1 ? -1 : left);
    switch (parameter) {
    case 0: return 0;
    case 1: return 1;
    case 2: return 4;
    case 3: return 16;
    case 4: return -1;
    case 5: return remaining;
    case 6: return remaining + 1;
    default: return 3;
    }
}

template <typename T>
uint64_t bitsOf(T value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(T));
    return bits;
}

void writeItem(CPackedData &out, const Item &item)
{
    switch (item.kind) {
    case 0: out.PutBool(item.bits != 0); break;
    case 1: out.PutUint8(static_cast<unsigned char>(item.bits)); break;
    case 2: out.PutInt8(static_cast<char>(item.bits)); break;
    case 3: out.PutInt16(static_cast<short>(item.bits)); break;
    case 4: out.PutUint32(static_cast<uint32_t>(item.bits)); break;
    case 5: out.PutInt64(static_cast<int64_t>(item.bits)); break;
    case 6: {
        float value;
        uint32_t low = static_cast<uint32_t>(item.bits);
        std::memcpy(&value, &low, sizeof(value));
        out.PutFloat(value);
        break;
    }
    case 7: {
        double value;
        std::memcpy(&value, &item.bits, sizeof(value));
        out.PutDouble(value);
        break;
    }
    case 8: out.PutString(item.text); break;
    case 9: out.PutData(item.text.data(), static_cast<int>(item.text.size())); break;
    default: out.PutMagic(); break;
    }
}

Item readItem(const CPackedData &in, int kind, size_t dataLength)
{
    Item item{kind, 0, {}};
    switch (kind) {
    case 0: item.bits = in.GetBool(); break;
    case 1: item.bits = in.GetUint8(); break;
    case 2: item.bits = static_cast<uint8_t>(in.GetInt8()); break;
    case 3: item.bits = static_cast<uint16_t>(in.GetInt16()); break;
    case 4: item.bits = in.GetUint32(); break;
    case 5: item.bits = static_cast<uint64_t>(in.GetInt64()); break;
    case 6: item.bits = bitsOf(in.GetFloat()); break;
    case 7: item.bits = bitsOf(in.GetDouble()); break;
    case 8: item.text = in.GetString(); break;
    case 9:
        item.text.assign(dataLength, '\0');
        in.GetData(item.text.data(), static_cast<int>(dataLength));
        break;
    default: item.bits = in.GetMagic(); break;
    }
    return item;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    installLogger();
    if (size < 2)
        return 0;
    uint8_t flags = data[0];
    size_t opCount = data[1] & 31u;
    if (size < 2 + opCount)
        return 0;
    const uint8_t *ops = data + 2;
    std::vector<uint8_t> bytes(data + 2 + opCount, data + size);
    if ((flags & 1) != 0 && !bytes.empty())
        bytes[0] = static_cast<uint8_t>(bytes[0] | 1);

    Packet view(bytes.data(), static_cast<int>(bytes.size()));
    Packet owned(view);
    Packet &in = (flags & 2) != 0 ? owned : view;

    std::vector<Item> items;
    char scratch[64];
    for (size_t i = 0; i < opCount; ++i) {
        int op = ops[i] & 31;
        int parameter = ops[i] >> 5;
        uint32_t before = static_cast<uint32_t>(in.GetGetIndex());
        switch (op) {
        case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 10:
            items.push_back(readItem(in, op, 0));
            break;
        case 9: {
            int n = blockLength(in, parameter);
            if (n >= 0 && n <= 4096)
                items.push_back(readItem(in, 9, static_cast<size_t>(n)));
            break;
        }
        case 11: {
            int n = blockLength(in, parameter);
            in.GetData(scratch, n < static_cast<int>(sizeof(scratch)) ? n : static_cast<int>(sizeof(scratch)));
            break;
        }
        case 12: {
            Packet destination(parameter & 3);
            int n = blockLength(in, parameter);
            in.GetData(destination, n < 4096 ? n : 4096);
            check(destination.size() <= static_cast<int>(destination.Buffer::size()));
            break;
        }
        case 13: {
            char storage[8] = {};
            Packet destination(storage, sizeof(storage));
            int n = blockLength(in, parameter);
            in.GetData(destination, n < 4096 ? n : 4096);
            break;
        }
        case 14: in.SkipData(blockLength(in, parameter)); break;
        case 15: in.SkipDataNoDebug(blockLength(in, parameter)); break;
        case 16: in.ReadHeader(); break;
        case 17: {
            static const uint32_t indices[] = {0, 1, 2, 0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFF8u, 5, 0};
            uint32_t index = parameter == 7 ? static_cast<uint32_t>(in.size()) + 1 : indices[parameter];
            in.setGetIndex(index);
            break;
        }
        case 18:
            in.peekBool(); in.peekUint8(); in.peekInt8(); in.peekInt16(); in.peekUint16();
            in.peekInt32(); in.peekUint32(); in.peekInt64(); in.peekFloat(); in.peekDouble(); in.peekType();
            check(static_cast<uint32_t>(in.GetGetIndex()) == before);
            break;
        case 19: in.GetType(); break;
        case 20: in.GetStringNoDebug(); break;
        case 21: in.GetDataNoDebug(scratch, parameter * 8); break;
        case 22: in.ValidateMD5Checksum(); break;
        case 23: {
            char checksum[16];
            bool found = CPackedData::GetPacketChecksum(bytes.data(), static_cast<int>(bytes.size()), checksum);
            if (found)
                check(std::memcmp(checksum, bytes.data() + bytes.size() - 16, 16) == 0);
            break;
        }
        case 24:
            in.dump();
            check(static_cast<uint32_t>(in.GetGetIndex()) == before);
            break;
        case 25: in.checkBounds(parameter - 2); break;
        case 26: {
            Packet copied;
            copied = in;
            check(copied.size() == in.size());
            check(copied.GetGetIndex() == 0);
            items.push_back(readItem(copied, parameter, 0));
            break;
        }
        case 27: in.GetSize(); break;
        default: {
            // A write to a view is refused and changes nothing.
            int sizeBefore = view.size();
            view.PutUint32(1);
            view.PutString("x");
            check(view.size() == sizeBefore);
            break;
        }
        }
        check(in.size() <= static_cast<int>(in.Buffer::size()));
    }

    // Everything read goes into a new packet, with a checksum, and must come
    // back bit for bit.
    Packet out(16);
    out.setDebug((flags & 4) != 0);
    out.useMD5Checksum(true);
    out.PutBool(true);
    for (const Item &item : items)
        writeItem(out, item);
    check(out.GenerateMD5Checksum());
    Packet back(out.readData(), out.size());
    check(back.GetBool());
    check(back.ValidateMD5Checksum());
    for (const Item &item : items) {
        Item again = readItem(back, item.kind, item.text.size());
        check(again.bits == (item.kind == 10 ? 1u : item.bits));
        if (item.kind == 8 || item.kind == 9)
            check(again.text == item.text || (item.kind == 8 && item.text.size() > 32767));
    }
    check(!back.getReadErrorFlag());
    check(back.GetGetIndex() + 16 == back.size());
    if (back.size() > 17) {
        out.data()[1] = static_cast<char>(out.data()[1] ^ 0x40);
        check(!back.ValidateMD5Checksum());
    }
    return 0;
}
