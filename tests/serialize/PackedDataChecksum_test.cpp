#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/serialize/PackedData.h>

#include "support/LogCapture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const CPackedData &packet)
{
    const auto *begin = reinterpret_cast<const uint8_t *>(packet.readData());
    return Bytes(begin, begin + packet.size());
}

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

class PackedDataChecksum : public LogCaptureTest {};

}  // namespace

TEST_F(PackedDataChecksum, DigestOfEverythingBeforeItGoesLast)
{
    CPackedData packet;
    packet.useMD5Checksum(true);
    packet.PutUint16(7);
    ASSERT_TRUE(packet.GenerateMD5Checksum());
    Bytes once = concat({0x02, 0x07, 0x00}, hex("c2115a6dcf40aca159a21b8edb7c951c"));
    EXPECT_EQ(bytesOf(packet), once);
    EXPECT_EQ(packet.GetPutIndex(), 19);

    // A second digest covers the first.
    ASSERT_TRUE(packet.GenerateMD5Checksum());
    EXPECT_EQ(bytesOf(packet), concat(once, hex("f035c3cf27d1f9ef232280cd3a85ffeb")));

    CPackedData debug;
    debug.setDebug(true);
    debug.useMD5Checksum(true);
    debug.PutInt16(7);
    ASSERT_TRUE(debug.GenerateMD5Checksum());
    EXPECT_EQ(bytesOf(debug), concat({0x03, 0x64, 0x07, 0x00}, hex("efdb8a62e4334a99c4dee6e580049479")));
    EXPECT_TRUE(texts().empty());
}

TEST_F(PackedDataChecksum, ValidationOfAReceivedPacket)
{
    CPackedData writer;
    writer.useMD5Checksum(true);
    writer.PutString("payload");
    writer.PutInt32(-1);
    ASSERT_TRUE(writer.GenerateMD5Checksum());
    Bytes bytes = bytesOf(writer);

    CPackedData received(bytes.data(), static_cast<int>(bytes.size()));
    // The flag is known only once the header has been read.
    EXPECT_FALSE(received.ValidateMD5Checksum());
    EXPECT_EQ(texts(), std::vector<std::string>{"ERROR : Called ValidateMD5Checksum() when hasMD5Checksum() = false"});
    clearLines();

    EXPECT_EQ(received.GetString(), "payload");
    EXPECT_TRUE(received.ValidateMD5Checksum());
    EXPECT_EQ(received.GetGetIndex(), 10);  // not moved
    EXPECT_EQ(received.GetInt32(), -1);
    EXPECT_EQ(received.GetGetIndex() + 16, received.size());

    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] ^= 0x20;
        EXPECT_EQ(received.ValidateMD5Checksum(), false) << "byte " << i;
        bytes[i] ^= 0x20;
    }
    EXPECT_TRUE(received.ValidateMD5Checksum());
    EXPECT_TRUE(texts().empty());  // a mismatch is not logged
}

TEST_F(PackedDataChecksum, TooSmallAndMissingFlag)
{
    Bytes sixteen(16, 0);
    sixteen[0] = 0x02;
    CPackedData small(sixteen.data(), 16);
    small.ReadHeader();
    EXPECT_FALSE(small.ValidateMD5Checksum());

    Bytes headerOnly = concat({0x02}, hex("9e688c58a5487b8eaf69c9e1005ad0bf"));
    CPackedData smallest(headerOnly.data(), static_cast<int>(headerOnly.size()));
    smallest.ReadHeader();
    EXPECT_TRUE(smallest.ValidateMD5Checksum());

    CPackedData unflagged;
    unflagged.PutUint8(1);
    EXPECT_FALSE(unflagged.GenerateMD5Checksum());
    EXPECT_EQ(unflagged.size(), 2);
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "ERROR : Called ValidateMD5Checksum() packet is too small (16 bytes) to contain a checksum",
                           "ERROR : Called GenerateMD5Checksum() when hasMD5Checksum() = false",
                       }));
    EXPECT_EQ(lines()[0].severity, LogSev_Assert);
}

TEST_F(PackedDataChecksum, GetPacketChecksumOfRawBytes)
{
    logger().SetConditional(Log_Network, LogSev_Detail);
    char checksum[16];
    auto reset = [&] { std::memset(checksum, 0xAA, sizeof(checksum)); };
    auto isZero = [&] { return Bytes(checksum, checksum + 16) == Bytes(16, 0); };

    Bytes seventeen(17);
    for (size_t i = 0; i < seventeen.size(); ++i)
        seventeen[i] = static_cast<uint8_t>(i + 1);
    seventeen[0] = 0x03;
    reset();
    EXPECT_TRUE(CPackedData::GetPacketChecksum(seventeen.data(), 17, checksum));
    EXPECT_EQ(Bytes(checksum, checksum + 16), Bytes(seventeen.begin() + 1, seventeen.end()));
    EXPECT_TRUE(texts().empty());

    reset();
    EXPECT_FALSE(CPackedData::GetPacketChecksum(seventeen.data(), 16, checksum));
    EXPECT_TRUE(isZero());
    for (uint8_t header : {0x00, 0x01}) {
        seventeen[0] = header;
        reset();
        EXPECT_FALSE(CPackedData::GetPacketChecksum(seventeen.data(), 17, checksum));
        EXPECT_TRUE(isZero());
    }
    reset();
    EXPECT_FALSE(CPackedData::GetPacketChecksum(nullptr, 17, checksum));
    EXPECT_TRUE(isZero());
    EXPECT_FALSE(CPackedData::GetPacketChecksum(seventeen.data(), 0, checksum));
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "ERROR Network: GetPacketChecksum() - packet is too small (16 bytes) to contain a checksum",
                           "Network: GetPacketChecksum() - Packet has no checksum",
                           "Network: GetPacketChecksum() - Packet has no checksum",
                           "Network: GetPacketChecksum() - Empty packet",
                           "Network: GetPacketChecksum() - Empty packet",
                       }));
    clearLines();

    // A negative length is an enormous unsigned size: the header is read and
    // the length then fails the size test.
    seventeen[0] = 0x03;
    reset();
    EXPECT_FALSE(CPackedData::GetPacketChecksum(seventeen.data(), -5, checksum));
    EXPECT_TRUE(isZero());
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "ERROR Network: GetPacketChecksum() - packet is too small (-5 bytes) to contain a checksum",
                       }));
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0].severity, LogSev_Assert);
    clearLines();

    // A malformed header is reported by the header read, then there is no checksum.
    seventeen[0] = 0x07;
    EXPECT_FALSE(CPackedData::GetPacketChecksum(seventeen.data(), 17, checksum));
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "ERROR : Malformed header in packet",
                           "CPackedData - 17 bytes avail; 17 bytes used; GetFrom 1; PutTo 0",
                           "Network: GetPacketChecksum() - Packet has no checksum",
                       }));
}

TEST_F(PackedDataChecksum, GenerateNeverWritesOutsideTheStorage)
{
    CPackedData packet(8);
    packet.useMD5Checksum(true);
    packet.PutUint8(1);
    packet.setPutIndex(100000);
    EXPECT_FALSE(packet.GenerateMD5Checksum());
    EXPECT_EQ(packet.size(), 2);
    EXPECT_EQ(packet.Buffer::size(), 8u);
}
