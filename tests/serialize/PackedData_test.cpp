#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/serialize/PackedData.h>

#include "support/LogCapture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

// Opens up the protected families.
class Packet : public CPackedData {
public:
    using CPackedData::CPackedData;
    using CPackedData::GetBoolNoDebug, CPackedData::GetUint8NoDebug, CPackedData::GetInt16NoDebug,
        CPackedData::GetUint16NoDebug, CPackedData::GetInt32NoDebug, CPackedData::GetUint32NoDebug,
        CPackedData::GetInt64NoDebug, CPackedData::GetFloatNoDebug, CPackedData::GetDoubleNoDebug,
        CPackedData::GetStringNoDebug, CPackedData::GetDataNoDebug, CPackedData::peekBool, CPackedData::peekUint8,
        CPackedData::peekInt8, CPackedData::peekInt16, CPackedData::peekUint16, CPackedData::peekInt32,
        CPackedData::peekUint32, CPackedData::peekInt64, CPackedData::peekFloat, CPackedData::peekDouble,
        CPackedData::peekType, CPackedData::PutBoolNoDebug, CPackedData::PutUint8NoDebug, CPackedData::PutInt16NoDebug,
        CPackedData::PutUint16NoDebug, CPackedData::PutInt32NoDebug, CPackedData::PutUint32NoDebug,
        CPackedData::PutInt64NoDebug, CPackedData::PutFloatNoDebug, CPackedData::PutDoubleNoDebug,
        CPackedData::PutDataNoDebug, CPackedData::PutType;
};

Bytes bytesOf(const CPackedData &packet)
{
    const auto *begin = reinterpret_cast<const uint8_t *>(packet.readData());
    return Bytes(begin, begin + packet.size());
}

unsigned int capacityOf(const CPackedData &packet) { return packet.Buffer::size(); }

Bytes hex(const std::string &text)
{
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes concat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class PackedData : public LogCaptureTest {};

}  // namespace

// The golden message: every typed value, in debug mode with its tag and in
// normal mode bare, little-endian after the header byte.
TEST_F(PackedData, GoldenBytesInNormalAndDebugMode)
{
    // The tags in debug mode: 'a' bool, 'b' byte, 'c' char, 'd' word, 'e' long, 'f' int64, 'g' float,
    // 'q' double, 'p' magic, 'i' string, 'h' data.
    const Bytes golden[] = {
        hex("00" "01" "fe" "fe" "feff" "feffffff" "04030201" "feffffffffffffff" "0000803f" "00000000000000c0" "023c"
            "0200" "6869" "7879"),
        hex("01" "6101" "62fe" "63fe" "64feff" "65feffffff" "6504030201" "66feffffffffffffff" "670000803f"
            "7100000000000000c0" "70023c" "6902006869" "68020000007879"),
    };
    for (bool debug : {false, true}) {
        CPackedData packet;
        packet.setDebug(debug);
        packet.PutBool(true); packet.PutUint8(0xFE); packet.PutInt8(-2); packet.PutInt16(-2); packet.PutInt32(-2);
        packet.PutUint32(0x01020304u); packet.PutInt64(-2); packet.PutFloat(1.0f); packet.PutDouble(-2.0);
        packet.PutMagic(); packet.PutString("hi"); packet.PutData("xy", 2);
        EXPECT_EQ(bytesOf(packet), golden[debug]);

        // One tag for both signs of each width.
        EXPECT_TRUE(packet.GetBool() && packet.GetUint8() == 0xFE && packet.GetInt8() == -2 &&
                    packet.GetUint16() == 0xFFFE && packet.GetUint32() == 0xFFFFFFFEu &&
                    packet.GetInt32() == 0x01020304 && packet.GetInt64() == -2 && packet.GetFloat() == 1.0f &&
                    packet.GetDouble() == -2.0 && packet.GetMagic() && packet.GetString() == "hi");
        char block[2] = {};
        packet.GetData(block, 2);
        EXPECT_EQ(std::tuple(std::string(block, 2), packet.GetGetIndex(), packet.getReadErrorFlag()),
                  std::tuple(std::string("xy"), packet.size(), false));
    }
}

// The bare family: no header, no tag, whatever the mode; read back by the bare readers.
TEST_F(PackedData, BareWritersPutOnlyTheValueBytes)
{
    for (bool debug : {false, true}) {
        Packet all;
        all.setDebug(debug);
        all.PutBoolNoDebug(true); all.PutBoolNoDebug(false); all.PutUint8NoDebug(0xFE); all.PutInt16NoDebug(-2);
        all.PutUint16NoDebug(0x1234); all.PutInt32NoDebug(-2); all.PutUint32NoDebug(0x01020304u);
        all.PutInt64NoDebug(0x0102030405060708LL); all.PutFloatNoDebug(1.0f); all.PutDoubleNoDebug(-2.0);
        all.PutDataNoDebug("xyz", 3); all.PutDataNoDebug(nullptr, 2);
        all.PutDataNoDebug("q", 0); all.PutDataNoDebug("q", -1);
        EXPECT_EQ(bytesOf(all), hex("0100fefeff3412feffffff04030201" "0807060504030201" "0000803f" "00000000000000c0"
                                    "78797a" "0000"));
        EXPECT_EQ(all.GetPutIndex(), all.size());
        EXPECT_TRUE(all.GetBoolNoDebug() && !all.GetBoolNoDebug() && all.GetUint8NoDebug() == 0xFE &&
                    all.GetInt16NoDebug() == -2 && all.GetUint16NoDebug() == 0x1234 && all.GetInt32NoDebug() == -2 &&
                    all.GetUint32NoDebug() == 0x01020304u && all.GetInt64NoDebug() == 0x0102030405060708LL &&
                    all.GetFloatNoDebug() == 1.0f && all.GetDoubleNoDebug() == -2.0);
        char out[5] = {};
        all.GetDataNoDebug(out, 5);
        EXPECT_TRUE(std::string(out, 5) == std::string("xyz\0\0", 5) && all.GetGetIndex() == all.size());
    }
    Packet text;
    text.PutInt16NoDebug(2); text.PutDataNoDebug("ab", 2);
    EXPECT_TRUE(text.GetStringNoDebug() == "ab" && texts().empty());
}

// A peek reads the value at the get index without moving it; one byte short
// of the value it reads 0, and logs nothing.
TEST_F(PackedData, PeeksReadInPlaceAndZeroWhenShort)
{
    struct Row { double (*peek)(const Packet &); int width; double value; };  // value of the bytes 0x81 0x82 ...
    const Row rows[] = {
        {[](const Packet &p) { return double(p.peekBool()); }, 1, 1},
        {[](const Packet &p) { return double(p.peekUint8()); }, 1, 0x81},
        {[](const Packet &p) { return double(p.peekInt8()); }, 1, -127},
        {[](const Packet &p) { return double(p.peekInt16()); }, 2, -32127},
        {[](const Packet &p) { return double(p.peekUint16()); }, 2, 0x8281},
        {[](const Packet &p) { return double(p.peekInt32()); }, 4, -2071756159},
        {[](const Packet &p) { return double(p.peekUint32()); }, 4, 0x84838281u},
        {[](const Packet &p) { return double(p.peekInt64()); }, 8, double(int64_t(0x8887868584838281ULL))},
        {[](const Packet &p) { return double(p.peekFloat()); }, 4, -3.09178009e-36f},
        {[](const Packet &p) { return p.peekDouble(); }, 8, -1.4249914579614907e-267},
    };
    const uint8_t bytes[] = {0x00, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88};
    for (const Row &row : rows) {
        Packet whole(bytes, 1 + row.width), shortOne(bytes, row.width);
        whole.setGetIndex(1); shortOne.setGetIndex(1);
        EXPECT_EQ(std::tuple(row.peek(whole), row.peek(shortOne), whole.GetGetIndex() + shortOne.GetGetIndex()),
                  std::tuple(row.value, 0.0, 2)) << row.width;
    }
    EXPECT_TRUE(texts().empty());
}

TEST_F(PackedData, StringsAndDataBlocks)
{
    CPackedData packet;
    packet.PutString(""); packet.PutString(static_cast<const char *>(nullptr));
    packet.PutString(std::string("ab\0cd", 5));  // ends at the first zero
    EXPECT_EQ(bytesOf(packet), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 'a', 'b'}));
    EXPECT_TRUE(packet.GetString().empty() && packet.GetString().empty());
    EXPECT_EQ(packet.GetString(), "ab");
    CPackedData single;  // one character into a packet that has no storage yet
    single.PutString("z");
    EXPECT_EQ(bytesOf(single), (Bytes{0x00, 0x01, 0x00, 'z'}));

    std::string text(32767, 'x'), back;
    text[0] = 'a';
    CPackedData longest;  // the longest string
    longest.PutString(text);
    longest.GetString(back);
    EXPECT_TRUE(longest.size() == 1 + 2 + 32767 && back == text);

    // Negative length or longer than what remains: "", only the length consumed.
    for (Bytes bytes : {Bytes{0x00, 0xFF, 0xFF, 'a', 'b'}, Bytes{0x00, 0x05, 0x00, 'a', 'b'}}) {
        CPackedData packet(bytes.data(), static_cast<int>(bytes.size()));
        EXPECT_TRUE(packet.GetString().empty() && packet.GetGetIndex() == 3);
    }
    // A zero inside the field ends the result; the whole field is consumed.
    const uint8_t zero[] = {0x00, 0x03, 0x00, 'a', 0x00, 'b', 0x01};
    CPackedData c(zero, sizeof(zero));
    EXPECT_TRUE(c.GetString() == "a" && c.GetBool());
    const uint8_t bools[] = {0x00, 0x02, 0x00};  // any nonzero byte is true
    CPackedData b(bools, sizeof(bools));
    EXPECT_TRUE(b.GetBool() && !b.GetBool());

    // Data blocks carry a length in debug mode only and are read whole.
    const char block[] = {'x', 'y', 'z'};
    CPackedData normal, debug;
    debug.setDebug(true);
    normal.PutData(block, 3); normal.PutData(block, 0); normal.PutData(block, -5);
    debug.PutData(block, 3); debug.PutData(block, 0);
    EXPECT_EQ(bytesOf(normal), (Bytes{0x00, 'x', 'y', 'z'}));
    EXPECT_EQ(bytesOf(debug), (Bytes{0x01, 'h', 3, 0, 0, 0, 'x', 'y', 'z', 'h', 0, 0, 0, 0}));

    // The length field is stepped over, not compared with the length asked for.
    char out[8] = {};
    debug.GetData(out, 2);
    EXPECT_TRUE(std::string(out, 2) == "xy" && debug.GetGetIndex() == 8 && !debug.getReadErrorFlag());

    // A block longer than what remains is neither copied nor skipped.
    const uint8_t abc[] = {0x00, 'a', 'b', 'c'};
    CPackedData three(abc, sizeof(abc));
    out[0] = '-';
    three.GetData(out, 4); three.SkipData(4);
    EXPECT_TRUE(out[0] == '-' && three.GetGetIndex() == 1);
    three.SkipData(2); three.SkipDataNoDebug(-1); three.GetData(out, 1);
    EXPECT_TRUE(out[0] == 'c' && three.GetGetIndex() == 4);
}

// A fixed-width get past the end reads 0 and advances anyway.
TEST_F(PackedData, PastTheEndAndHostileIndicesNeverReachOutsideTheStorage)
{
    CPackedData empty;
    EXPECT_TRUE(empty.GetInt32() == 0 && empty.GetGetIndex() == 5 && !empty.isDebug());  // header byte + 4
    const uint8_t bytes[] = {0x00, 0x11, 0x22};
    CPackedData shortOne(bytes, sizeof(bytes));
    shortOne.ReadHeader();
    EXPECT_TRUE(shortOne.checkBounds(2) && !shortOne.checkBounds(3) && !shortOne.checkBounds(-1));
    EXPECT_TRUE(shortOne.GetUint32() == 0u && shortOne.GetGetIndex() == 5 && !shortOne.checkBounds(0));

    Packet packet;
    packet.PutInt32(42);
    for (uint32_t index : {5u, 127u, 128u, 0x7FFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        packet.setGetIndex(index);
        EXPECT_TRUE(packet.peekInt64() == 0 && packet.peekType() == 0 && packet.GetInt64() == 0);
        packet.setGetIndex(index);
        EXPECT_EQ(packet.GetString(), "");
        char out[4] = {};
        packet.setGetIndex(index); packet.GetData(out, 4);
        EXPECT_FALSE(packet.checkBounds(1));
    }
    packet.setGetIndex(1);
    EXPECT_TRUE(packet.peekInt32() == 42 && packet.GetGetIndex() == 1);

    // Puts far beyond the storage are refused; within one growth step they grow.
    CPackedData far(16);
    far.PutInt32(7);
    for (uint32_t index : {5000u, 0xFFFFFFFEu}) {
        far.setPutIndex(index); far.PutInt64(1); far.PutString("text"); far.PutData("abc", 3);
        far.testPutGrowth(10);
        EXPECT_TRUE(far.size() == 5 && capacityOf(far) == 16u);
    }
    EXPECT_EQ(far.GetInt32(), 7);
    far.setPutIndex(16 + 1024 - 4); far.PutInt32(8);
    EXPECT_TRUE(capacityOf(far) == 16u + 1024u && far.size() == 16 + 1024);
}

// A wrong tag, a malformed header or a bad magic value is logged each time and
// the packet dumped the first time; the value is read anyway. A tag is signed,
// and 0 past the end.
TEST_F(PackedData, ParseErrorsAreLoggedEachTimeAndDumpedOnce)
{
    const struct { Bytes bytes; void (*read)(const CPackedData &); Texts lines; } rows[] = {
        {{0x01, 'b', 5, 'b', 6},
         [](const CPackedData &p) { EXPECT_EQ(p.GetInt8(), 5); EXPECT_EQ(p.GetInt8(), 6); },
         {"ERROR : Parse error reading packet at GetIndex=2 (Expected 63, got 62)",
          "CPackedData - 5 bytes avail; 5 bytes used; GetFrom 2; PutTo 0", "    3 (byte): 5", "    5 (byte): 6",
          "ERROR : Parse error reading packet at GetIndex=4 (Expected 63, got 62)"}},
        {{0x01, 0x90, 0x01},
         [](const CPackedData &p) { EXPECT_TRUE(p.GetBool()); EXPECT_EQ(p.GetInt16(), 0); },
         {"ERROR : Parse error reading packet at GetIndex=2 (Expected 61, got ffffff90)",
          "CPackedData - 3 bytes avail; 3 bytes used; GetFrom 2; PutTo 0",
          "    2 (Unknown: -112): CPackedData is probably corrupt", "    3 (Unknown: 1): CPackedData is probably corrupt",
          "ERROR : Parse error reading packet at GetIndex=4 (Expected 64, got 0)"}},
        {{0x04, 0x09, 0x00},
         [](const CPackedData &p) { EXPECT_EQ(p.GetUint16(), 9); p.setGetIndex(0); EXPECT_EQ(p.GetUint16(), 9); },
         {"ERROR : Malformed header in packet", "CPackedData - 3 bytes avail; 3 bytes used; GetFrom 1; PutTo 0",
          "ERROR : Malformed header in packet"}},
        {{0x00, 0x03, 0x3C, 0x02, 0x3C},
         [](const CPackedData &p) { EXPECT_FALSE(p.GetMagic()); EXPECT_TRUE(p.GetMagic()); EXPECT_FALSE(p.GetMagic()); },
         {"ERROR : Magic error reading packet at GetIndex=3", "CPackedData - 5 bytes avail; 5 bytes used; GetFrom 3; PutTo 0",
          "ERROR : Magic error reading packet at GetIndex=7"}},
    };
    for (const auto &row : rows) {
        clearLines();
        CPackedData packet(row.bytes.data(), static_cast<int>(row.bytes.size()));
        row.read(packet);
        EXPECT_TRUE(packet.getReadErrorFlag());
        ASSERT_EQ(texts(), row.lines);
        EXPECT_TRUE(lines()[0].severity == LogSev_Error && lines()[0].channel == Log_Generic);
    }

    // With generic info filtered the dump is silent, the error line is not.
    clearLines();
    logger().SetConditional(Log_Generic, LogSev_Warning);
    CPackedData packet(rows[0].bytes.data(), 5);
    EXPECT_EQ(packet.GetInt8(), 5);
    EXPECT_EQ(texts(), Texts{"ERROR : Parse error reading packet at GetIndex=2 (Expected 63, got 62)"});

    // A malformed header leaves the flags as they were.
    const uint8_t tagged[] = {0xFF, 0x64, 0x09, 0x00};
    CPackedData debug(tagged, sizeof(tagged));
    debug.setDebug(true);
    EXPECT_TRUE(debug.GetUint16() == 9 && debug.isDebug());
}

TEST_F(PackedData, GrowthByOneStepOrByTheWholeBlock)
{
    CPackedData big(1024);
    big.PutUint8(0); big.setPutIndex(1020); big.PutInt32(1);
    ASSERT_EQ(capacityOf(big), 1024u);
    big.setPutIndex(1022); big.PutInt32(2);
    EXPECT_TRUE(capacityOf(big) == 2048u && big.size() == 1026);

    CPackedData packet(1024);
    packet.PutUint8(0); packet.setPutIndex(100);
    packet.testPutGrowth(2000);
    EXPECT_TRUE(capacityOf(packet) == 3024u && packet.size() == 2100 && packet.GetPutIndex() == 100);

    CPackedData small(16), strings(16);
    small.PutData(std::string(20, 'd').data(), 20);
    EXPECT_EQ(capacityOf(small), 16u + 1024u);
    strings.PutString(std::string(2000, 's'));  // room for length + 2 at once
    EXPECT_TRUE(capacityOf(strings) == 16u + 2002u && strings.size() == 2003);
}

TEST_F(PackedData, RewritesEmptyAndSizeAtOffset)
{
    CPackedData packet;
    packet.PutInt32(1); packet.PutInt32(2); packet.setPutIndex(5); packet.PutUint8(9);
    EXPECT_EQ(packet.size(), 6);

    packet.setPutIndex(0); packet.PutUint8(1); packet.setDebug(true); packet.PutUint8(2);
    packet.setDebug(false); packet.PutUint8(3);
    EXPECT_EQ(bytesOf(packet), (Bytes{0x00, 0x01, 'b', 0x02, 0x03}));
    packet.setPutIndex(0); packet.setDebug(true); packet.PutUint8(4);  // a new header over the old one
    EXPECT_EQ(bytesOf(packet), (Bytes{0x01, 'b', 0x04}));

    // A debug header read back turns tagging on for later puts too.
    CPackedData reread;
    reread.PutUint8(9); reread.data()[0] = 0x01; reread.ReadHeader(); reread.PutUint8(5);
    EXPECT_EQ(bytesOf(reread), (Bytes{0x01, 0x09, 'b', 0x05}));

    // empty() clears the flags and keeps the storage.
    reread.useMD5Checksum(true); reread.GetInt8();
    ASSERT_TRUE(reread.getReadErrorFlag());
    const char *storage = reread.readData();
    reread.empty();
    EXPECT_FALSE(reread.getReadErrorFlag() || reread.isDebug() || reread.hasMD5Checksum());
    EXPECT_TRUE(reread.size() == 0 && reread.GetGetIndex() == 0 && reread.readData() == storage);
    reread.PutUint8(1);
    EXPECT_EQ(bytesOf(reread), (Bytes{0x00, 0x01}));

    // putSizeAtOffset fills a reserved field with the length of what follows it.
    for (bool debug : {false, true}) {
        CPackedData packet;
        packet.setDebug(debug); packet.PutUint8(1);
        uint32_t field = static_cast<uint32_t>(packet.GetPutIndex());
        packet.PutUint32(0); packet.PutString("abc"); packet.PutUint8(2);
        int end = packet.size();
        packet.putSizeAtOffset(field);
        EXPECT_TRUE(packet.size() == end && packet.GetPutIndex() == end && packet.GetUint8() == 1);
        uint32_t length = packet.GetSize();
        EXPECT_TRUE(length == static_cast<uint32_t>(end - packet.GetGetIndex()) && length == (debug ? 8u : 6u));
        EXPECT_FALSE(packet.getReadErrorFlag());
    }
}

TEST_F(PackedData, ReadOnlyViewRefusesEveryPutAndStillReads)
{
    CPackedData writer;
    writer.PutInt32(77);
    const Bytes bytes = bytesOf(writer);
    CPackedData view(bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_FALSE(view.canWrite());
    view.setPutIndex(5); view.PutBool(true); view.PutUint8(1); view.PutInt8(1); view.PutInt16(1);
    view.PutUint16(1); view.PutInt32(1); view.PutUint32(1); view.PutInt64(1); view.PutFloat(1);
    view.PutDouble(1); view.PutString("x"); view.PutData("x", 1); view.PutMagic();
    view.putSizeAtOffset(1); view.useMD5Checksum(true);
    EXPECT_FALSE(view.GenerateMD5Checksum());
    view.useMD5Checksum(false);
    EXPECT_EQ(texts(), Texts(15, "ERROR Network: Attempt to write to read-only packet packet at PutIndex=5"));
    EXPECT_EQ(lines()[14].severity, LogSev_Assert);
    EXPECT_TRUE(view.size() == 5 && bytes == bytesOf(writer) && view.GetInt32() == 77 && !view.getReadErrorFlag());
}

TEST_F(PackedData, CopiesOfADebugPacketReadWithTagCheckingAndAreCounted)
{
    CPackedData source;
    source.setDebug(true); source.PutInt16(-1); source.PutString("abc");

    CPackedData copied(source);
    EXPECT_EQ(capacityOf(copied), static_cast<unsigned int>(source.size()));
    CPackedData assigned, copiedLater(4);
    assigned.PutUint8(3);
    assigned = source;
    copiedLater.copy(source);
    for (CPackedData *packet : {&copied, &assigned, &copiedLater}) {
        EXPECT_NE(packet->readData(), source.readData());
        EXPECT_TRUE(bytesOf(*packet) == bytesOf(source) && packet->GetPutIndex() == 0 && !packet->isDebug());
        EXPECT_TRUE(packet->GetUint16() == 0xFFFF && packet->isDebug() && packet->GetString() == "abc");
    }
    EXPECT_TRUE(texts().empty());

    assigned.copy(assigned);  // self-copy rewinds
    EXPECT_TRUE(bytesOf(assigned) == bytesOf(source) && assigned.GetGetIndex() == 0);

    // Every constructor counts and the destructor uncounts.
    int before = CPackedData::getPacketCount();
    {
        const char bytes[1] = {0};
        CPackedData a, b(bytes, 1), c(a);
        char checksum[16];  // GetPacketChecksum makes one of its own
        CPackedData::GetPacketChecksum(bytes, 1, checksum);
        EXPECT_EQ(CPackedData::getPacketCount(), before + 3);
    }
    EXPECT_EQ(CPackedData::getPacketCount(), before);
}

TEST_F(PackedData, CopyAndGetDataIntoAViewThatIsTooSmall)
{
    CPackedData source;
    source.PutString("twelve bytes");
    char storage[4] = {'k', 'e', 'e', 'p'};
    CPackedData view(storage, sizeof(storage));
    view.copy(source);
    source.SkipData(2);  // the length field
    source.GetData(view, 5);
    EXPECT_TRUE(std::string(storage, 4) == "keep" && view.size() == 4);
    EXPECT_EQ(texts(), (Texts{"ERROR Network: Unable to expand packed data to 15 bytes in copy",
                              "ERROR : CPackedData::GetData: Capacity too small"}));
    EXPECT_EQ(lines()[1].severity, LogSev_Assert);

    // Large enough: written in place, the destination's indices kept.
    source.GetData(view, 4);
    EXPECT_TRUE(std::string(storage, 4) == "twel" && view.size() == 4);
    CPackedData grown(1);
    grown.setGetIndex(1);
    source.GetData(grown, 8);
    EXPECT_TRUE(std::string(grown.readData(), 8) == "ve bytes" && grown.size() == 8 && grown.GetGetIndex() == 1);

    // A negative count is an enormous unsigned size: neither a view nor an
    // owner can take it, and nothing moves.
    clearLines();
    int const sourceIndex = source.GetGetIndex();
    source.GetData(view, -1); source.GetData(grown, -2);
    EXPECT_EQ(texts(), Texts(2, "ERROR : CPackedData::GetData: Capacity too small"));
    EXPECT_EQ(lines()[1].severity, LogSev_Assert);
    EXPECT_TRUE(source.GetGetIndex() == sourceIndex && view.size() == 4 && grown.size() == 8);
}

TEST_F(PackedData, DumpDebugPacketItemByItemAndNormalPacketSummaryOnly)
{
    Packet packet;
    packet.setDebug(true); packet.PutBool(true); packet.PutUint8(200); packet.PutInt8('A'); packet.PutInt16(-3);
    packet.PutInt32(-70000); packet.PutInt64(-5000000000LL); packet.PutFloat(1.5f); packet.PutData("xyz", 3);
    packet.PutString("name"); packet.PutMagic(); packet.PutDouble(0.25); packet.PutType(0x7A);
    packet.setGetIndex(7);
    packet.dump();
    EXPECT_EQ(packet.GetGetIndex(), 7);
    CPackedData normal;
    normal.PutUint16(7); normal.PutString("hi"); normal.PutBool(true);
    normal.dump();
    // A corrupt data length and an item cut short; a block that ends the packet.
    for (Bytes raw : {Bytes{0x01, 'h', 0xFB, 0xFF, 0xFF, 0xFF, 'd', 0x01}, Bytes{0x01, 'h', 1, 0, 0, 0, 'z'}}) {
        CPackedData broken(raw.data(), static_cast<int>(raw.size()));
        broken.ReadHeader();
        broken.dump();
    }
    EXPECT_EQ(texts(), (Texts{"CPackedData - 128 bytes avail; 57 bytes used; GetFrom 7; PutTo 57", "    3 (bool): true",
        "    5 (byte): 200", "    7 (char): 65 (A)", "   10 (word): -3", "   15 (long): -70000", "   24 (int64): -5000000000",
        "   29 (float): 1.500000", "   34 (data): 3 bytes", "   44 (string): name", "   47 (magic): 3c02 (3c02 expected)",
        "   56 (double): 0.250000", "   57 (Unknown: 122): CPackedData is probably corrupt",
        "CPackedData - 128 bytes avail; 8 bytes used; GetFrom 0; PutTo 8",
        "CPackedData - 8 bytes avail; 8 bytes used; GetFrom 1; PutTo 0",
        "    6 (data): -5 too large. CPackedData is probably corrupt", "    9 (word): 0",
        "CPackedData - 7 bytes avail; 7 bytes used; GetFrom 1; PutTo 0", "    6 (data): 1 bytes"}));
    EXPECT_EQ(lines()[0].severity, LogSev_Info);
}

TEST_F(PackedData, ChecksumDigestOfEverythingBeforeItGoesLastItsValidationAndItsMisuses)
{
    CPackedData packet, debug;
    packet.useMD5Checksum(true); packet.PutUint16(7);
    ASSERT_TRUE(packet.GenerateMD5Checksum());
    Bytes once = concat({0x02, 0x07, 0x00}, hex("c2115a6dcf40aca159a21b8edb7c951c"));
    EXPECT_EQ(bytesOf(packet), once);
    EXPECT_EQ(packet.GetPutIndex(), 19);

    // A second digest covers the first.
    ASSERT_TRUE(packet.GenerateMD5Checksum());
    EXPECT_EQ(bytesOf(packet), concat(once, hex("f035c3cf27d1f9ef232280cd3a85ffeb")));

    debug.setDebug(true); debug.useMD5Checksum(true); debug.PutInt16(7);
    ASSERT_TRUE(debug.GenerateMD5Checksum());
    EXPECT_EQ(bytesOf(debug), concat({0x03, 0x64, 0x07, 0x00}, hex("efdb8a62e4334a99c4dee6e580049479")));

    // Validation of a received packet.
    CPackedData writer;
    writer.useMD5Checksum(true); writer.PutString("payload"); writer.PutInt32(-1);
    ASSERT_TRUE(writer.GenerateMD5Checksum());
    Bytes bytes = bytesOf(writer);

    CPackedData received(bytes.data(), static_cast<int>(bytes.size()));
    // The flag is known only once the header has been read.
    EXPECT_FALSE(received.ValidateMD5Checksum());
    EXPECT_EQ(texts(), Texts{"ERROR : Called ValidateMD5Checksum() when hasMD5Checksum() = false"});
    clearLines();

    EXPECT_EQ(received.GetString(), "payload");
    EXPECT_TRUE(received.ValidateMD5Checksum());
    EXPECT_TRUE(received.GetGetIndex() == 10 && received.GetInt32() == -1);  // not moved
    EXPECT_EQ(received.GetGetIndex() + 16, received.size());

    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] ^= 0x20;
        EXPECT_EQ(received.ValidateMD5Checksum(), false) << "byte " << i;
        bytes[i] ^= 0x20;
    }
    EXPECT_TRUE(received.ValidateMD5Checksum());
    EXPECT_TRUE(texts().empty());  // a mismatch is not logged
    // 16 bytes cannot hold a header and a digest; 17 can (the digest of nothing).
    for (const Bytes &bytes : {concat({0x02}, Bytes(15, 0)), concat({0x02}, hex("9e688c58a5487b8eaf69c9e1005ad0bf"))}) {
        CPackedData packet(bytes.data(), static_cast<int>(bytes.size()));
        packet.ReadHeader();
        EXPECT_EQ(packet.ValidateMD5Checksum(), bytes.size() == 17);
    }

    CPackedData unflagged;
    unflagged.PutUint8(1);
    EXPECT_FALSE(unflagged.GenerateMD5Checksum());
    EXPECT_EQ(unflagged.size(), 2);
    EXPECT_EQ(texts(), (Texts{"ERROR : Called ValidateMD5Checksum() packet is too small (16 bytes) to contain a checksum",
                              "ERROR : Called GenerateMD5Checksum() when hasMD5Checksum() = false"}));
    EXPECT_EQ(lines()[0].severity, LogSev_Assert);

    // A put index past the storage: no digest anywhere.
    CPackedData far(8);
    far.useMD5Checksum(true); far.PutUint8(1); far.setPutIndex(100000);
    EXPECT_FALSE(far.GenerateMD5Checksum());
    EXPECT_TRUE(far.size() == 2 && capacityOf(far) == 8u);
}

// The last 16 bytes of raw bytes whose header has the checksum bit, else zeros
// and one line; a negative length is an enormous unsigned size.
TEST_F(PackedData, ChecksumGetPacketChecksumOfRawBytes)
{
    logger().SetConditional(Log_Network, LogSev_Detail);
    const std::string none = "Network: GetPacketChecksum() - Packet has no checksum";
    const struct { uint8_t header; bool null; int length; Texts lines; } rows[] = {
        {0x03, false, 17, {}},
        {0x02, false, 16, {"ERROR Network: GetPacketChecksum() - packet is too small (16 bytes) to contain a checksum"}},
        {0x03, false, -5, {"ERROR Network: GetPacketChecksum() - packet is too small (-5 bytes) to contain a checksum"}},
        {0x00, false, 17, {none}},
        {0x01, false, 17, {none}},
        {0x03, true, 17, {"Network: GetPacketChecksum() - Empty packet"}},
        {0x03, false, 0, {"Network: GetPacketChecksum() - Empty packet"}},
        {0x07, false, 17,
         {"ERROR : Malformed header in packet", "CPackedData - 17 bytes avail; 17 bytes used; GetFrom 1; PutTo 0", none}},
    };
    Bytes bytes = hex("0002030405060708090a0b0c0d0e0f1011");
    for (const auto &row : rows) {
        clearLines();
        bytes[0] = row.header;
        char checksum[16];
        std::memset(checksum, 0xAA, sizeof(checksum));
        const bool found = row.lines.empty();
        EXPECT_EQ(CPackedData::GetPacketChecksum(row.null ? nullptr : bytes.data(), row.length, checksum), found);
        EXPECT_EQ(Bytes(checksum, checksum + 16), found ? Bytes(bytes.begin() + 1, bytes.end()) : Bytes(16, 0));
        EXPECT_EQ(texts(), row.lines) << row.length;
        const bool oneError = row.lines.size() == 1 && row.lines[0].rfind("ERROR", 0) == 0;
        EXPECT_TRUE(!oneError || lines()[0].severity == LogSev_Assert);
    }
}
