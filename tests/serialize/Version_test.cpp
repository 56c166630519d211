#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <SharedLib/platform/LastError.h>
#include <SharedLib/serialize/PackedData.h>
#include <SharedLib/serialize/Version.h>

#include "support/LogCapture.h"
#include "support/TempDirectory.h"

namespace {

TEST(Version, OrderValidityIntegerFormAndTheBuiltVersion)
{
    EXPECT_TRUE(Version(1, 0, 0, 0) > Version(0, 65535, 65535, 65535) && Version(1, 2, 3, 4) < Version(1, 2, 5, 0));
    Version a(3, 1, 4, 1), b(3, 1, 4, 2);
    EXPECT_TRUE(a < b && a <= b && a != b && !(a > b) && !(a >= b) && !(a == b));
    EXPECT_TRUE(a == Version(3, 1, 4, 1) && a <= a && a >= a && !(a < a));
    EXPECT_TRUE(!Version().isValid() && Version(0, 0, 0, 1).isValid() && Version(0, 0, 1, 0).isValid() &&
                Version(0, 1, 0, 0).isValid() && Version(1, 0, 0, 0).isValid());

    // One signed byte per part, the high byte of each ignored, the sum wrapping at 32 bits.
    const std::pair<Version, int> ints[] = {
        {Version(1, 2, 3, 4), 0x01020304},      {Version(1, 2, 3, 200), 0x010202C8},
        {Version(0x0101, 0x4402, 0xFF03, 0x1204), 0x01020304},
        {Version(128, 128, 128, 128), 0x7F7F7F80}, {Version(255, 255, 255, 255), -0x01010101},
    };
    for (const auto &[version, value] : ints)
        EXPECT_EQ(version.toInt(), value) << std::hex << value;

    // The built version.
    EXPECT_EQ(Version(2, 12, 39, 0), Version::current());
    EXPECT_STRNE(Version::currentUser(), "");  // a null pointer fails too
    EXPECT_STRNE(Version::currentMachine(), "");
    EXPECT_STREQ(Version::getDebug(), "");
}

using VersionPackTest = LogCaptureTest;

// Golden bytes: four little-endian 16-bit parts after the header, tagged in debug mode.
TEST_F(VersionPackTest, FourSixteenBitPartsTaggedInDebugMode)
{
    const std::pair<bool, std::string> golden[] = {
        {false, std::string("\0\xFF\xFF\0\x01\0\0\x40\x9C", 9)},
        {true, std::string("\x01" "d\xFF\xFF" "d\0\x01" "d\0\0" "d\x40\x9C", 13)},
    };
    for (const auto &[debug, bytes] : golden) {
        CPackedData message;
        message.setDebug(debug);
        Version(65535, 256, 0, 40000).pack(message);
        EXPECT_EQ(std::string(message.readData(), static_cast<size_t>(message.size())), bytes);
        CPackedData received(message.readData(), message.size());
        Version read;
        read.unpack(received);
        EXPECT_TRUE(read == Version(65535, 256, 0, 40000) && received.GetGetIndex() == received.size() &&
                    !received.getReadErrorFlag());
    }
    EXPECT_TRUE(texts().empty());

    // Parts past the end read as 0.
    const char bytes[] = {0, 7, 0, 8};  // header, major, half of minor
    CPackedData received(bytes, 4), view(bytes, 4);
    Version read(9, 9, 9, 9);
    read.unpack(received);
    EXPECT_EQ(read, Version(7, 0, 0, 0));

    // A read-only message refuses each part.
    Version(1, 2, 3, 4).pack(view);
    EXPECT_TRUE(texts().size() == 4u && std::string(view.readData(), 4) == std::string(bytes, 4));  // a line a part
}

// A minimal image: DOS header, PE header, one .rsrc section at RVA 0x1000,
// file offset 0x200, holding a version resource (type 16, name 1, language
// 0x409) of whose fixed information the file and product versions differ.
struct ImageOptions {
    bool pe32Plus = false, resources = true;
    uint32_t resourcesSize = 0xB4;  // as the data directory gives it
    uint32_t type = 16, fileMS = 0x00050006, fileLS = 0x00070008, productMS = 0x00090009, productLS = 0x00090009;
    uint32_t signature = 0xFEEF04BD;
    uint16_t infoLength = 92;  // VS_VERSIONINFO's own length
};

void put16(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) { put16(b, at, v & 0xFFFF); put16(b, at + 2, v >> 16); }

std::vector<uint8_t> buildImage(const ImageOptions &o = {})
{
    std::vector<uint8_t> b(0x400, 0);
    put16(b, 0, 0x5A4D); put32(b, 0x3C, 0x80); put32(b, 0x80, 0x00004550);
    size_t const header = 0x84, optional = header + 20;
    uint32_t const optionalSize = o.pe32Plus ? 240 : 224;
    put16(b, header, o.pe32Plus ? 0x8664 : 0x14C); put16(b, header + 2, 1);
    put16(b, header + 16, optionalSize); put16(b, header + 18, 0x2102);
    put16(b, optional, o.pe32Plus ? 0x20B : 0x10B);
    size_t const directories = optional + (o.pe32Plus ? 112 : 96);
    put32(b, directories - 4, 16);
    if (o.resources)
        put32(b, directories + 16, 0x1000), put32(b, directories + 20, o.resourcesSize);
    size_t const section = optional + optionalSize;
    std::memcpy(&b[section], ".rsrc", 5);
    put32(b, section + 8, 0xB4); put32(b, section + 12, 0x1000);
    put32(b, section + 16, 0x200); put32(b, section + 20, 0x200);

    size_t const r = 0x200;  // root, names, languages: one ID entry each
    put16(b, r + 14, 1); put32(b, r + 16, o.type); put32(b, r + 20, 0x80000018);
    put16(b, r + 0x18 + 14, 1); put32(b, r + 0x18 + 16, 1); put32(b, r + 0x18 + 20, 0x80000030);
    put16(b, r + 0x30 + 14, 1); put32(b, r + 0x30 + 16, 0x409); put32(b, r + 0x30 + 20, 0x48);
    put32(b, r + 0x48, 0x1058); put32(b, r + 0x48 + 4, 92);  // data entry: RVA, size
    size_t const v = r + 0x58, fixed = v + 40;  // VS_VERSIONINFO
    put16(b, v, o.infoLength); put16(b, v + 2, 52);
    const char key[] = "VS_VERSION_INFO";
    for (size_t i = 0; i < sizeof(key); ++i)
        put16(b, v + 6 + 2 * i, static_cast<uint8_t>(key[i]));
    put32(b, fixed, o.signature); put32(b, fixed + 4, 0x00010000);
    put32(b, fixed + 8, o.fileMS); put32(b, fixed + 12, o.fileLS);
    put32(b, fixed + 16, o.productMS); put32(b, fixed + 20, o.productLS);
    return b;
}

class VersionFindTest : public LogCaptureTest {
protected:
    Version findIn(const char *name, const std::vector<uint8_t> &bytes)
    {
        std::ofstream(m_directory.host() / name, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        clearLines();
        return Version::find(m_directory.windows(name).c_str());
    }

    TempDirectory m_directory;
};

TEST_F(VersionFindTest, ReadsTheFileVersionAndWithoutOneGivesZeroAndOneLine)
{
    EXPECT_EQ(findIn("app.exe", buildImage()), Version(5, 6, 7, 8));
    EXPECT_EQ(Version::find(m_directory.windows("app.exe").c_str()), Version(5, 6, 7, 8));  // the file was let go
    ImageOptions wide{.pe32Plus = true, .fileMS = 0xFFFF0001, .fileLS = 0x8000FFFE};
    EXPECT_EQ(findIn("app64.dll", buildImage(wide)), Version(65535, 1, 32768, 65534));
    EXPECT_TRUE(texts().empty());
    // One error line each, naming the file and the reason as Windows gives it.
    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
        uint32_t code;  // the Windows error the line describes
    } cases[] = {
        {"plain.dll", buildImage({.resources = false}), 1812},  // ERROR_RESOURCE_DATA_NOT_FOUND
        {"empty.dll", buildImage({.resourcesSize = 0}), 1812},
        {"icons.dll", buildImage({.type = 3}), 1813},    // ERROR_RESOURCE_TYPE_NOT_FOUND
        {"notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'}, 193},  // ERROR_BAD_EXE_FORMAT
        {"empty.exe", {}, 193},
        {"odd.exe", buildImage({.signature = 0x12345678}), 13},  // ERROR_INVALID_DATA, without the path
        {"short.exe", buildImage({.infoLength = 91}), 13},  // ends inside the fixed information
    };
    for (const auto &c : cases) {
        EXPECT_FALSE(findIn(c.name, c.bytes).isValid()) << c.name;
        const std::string where = c.code == 13 ? "Failed to get version info" : m_directory.windows(c.name);
        EXPECT_EQ(texts(), std::vector<std::string>{"ERROR : " + where + ": " + platform::FormatSystemMessage(c.code)});
    }
    // A missing file: the system's reason after the path.
    clearLines();
    std::string const path = m_directory.windows("absent.exe");
    EXPECT_FALSE(Version::find(path.c_str()).isValid());
    EXPECT_EQ(texts(), std::vector<std::string>{"ERROR : " + path + ": The system cannot find the file specified.\r\n"});
    theLogger = nullptr;  // and quietly without a logger
    EXPECT_FALSE(Version::find(path.c_str()).isValid());
    theLogger = &logger();
}

TEST_F(VersionFindTest, EveryTruncationAndHostileOffsetGiveZeroAndOneLine)
{
    std::vector<uint8_t> image = buildImage();
    // The fixed information ends at 0x200 + 0x58 + 92; every cut before that
    // loses it, and a cut inside the section's raw data loses the section.
    for (size_t length = 1; length < image.size(); length += (length < 0x300 ? 1 : 37)) {
        std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_TRUE(!findIn("cut.exe", cut).isValid() && texts().size() == 1u) << length;
    }

    // Hostile offsets are rejected.
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> copy = image;
        put32(copy, at, value);
        return copy;
    };
    size_t const section = 0x84 + 20 + 224;
    std::vector<std::vector<uint8_t>> hostile = {
        patched(0x3C, 0xFFFFFFF0),             // PE header far away
        patched(0x84 + 16, 0xFFFF),            // optional header larger than the file
        patched(0x84 + 2, 0xFFFF),             // more sections than the file holds
        patched(section + 16, 0xFFFFFFFF),     // raw size beyond the end
        patched(section + 20, 0xFFFFFF00),     // raw data beyond the end
        patched(0x200 + 20, 0x8FFFFFF0),       // subdirectory outside the section
        patched(0x200 + 0x30 + 20, 0x7FFFFFF8),  // data entry outside the section
        patched(0x200 + 0x48, 0xFFFFFFF0),     // data RVA in no section
        patched(0x200 + 0x48 + 4, 0xFFFFFFFF),  // data larger than the section
        patched(0x200 + 0x30 + 20, 0x80000000),  // language level loops to the root
    };
    for (size_t i = 0; i < hostile.size(); ++i)
        EXPECT_TRUE(!findIn("bad.exe", hostile[i]).isValid() && texts().size() == 1u) << i;

    // 131070 entries claimed: only those the section holds are looked at,
    // whether the type is among them or not.
    std::vector<uint8_t> crowded = patched(0x200 + 12, 0xFFFFFFFF);
    EXPECT_EQ(findIn("crowded.exe", crowded), Version(5, 6, 7, 8));
    put32(crowded, 0x200 + 16, 3);
    EXPECT_TRUE(!findIn("crowded.exe", crowded).isValid() && texts().size() == 1u);
}

}  // namespace
