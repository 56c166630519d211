#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <SharedLib/serialize/PackedData.h>
#include <SharedLib/serialize/Version.h>

#include "support/LogCapture.h"
#include "support/TempDirectory.h"

namespace {

// Exposes the comparison for its value.
class ComparableVersion : public Version {
public:
    using Version::Version;
    int compareWith(Version other) const { return compare(other); }
};

TEST(VersionOrder, ComparesFieldByFieldMajorFirst)
{
    EXPECT_GT(Version(1, 0, 0, 0), Version(0, 65535, 65535, 65535));
    EXPECT_LT(Version(1, 2, 3, 4), Version(1, 2, 5, 0));
    EXPECT_EQ(ComparableVersion(1, 2, 3, 4).compareWith(Version(1, 2, 5, 0)), -2);
    EXPECT_EQ(ComparableVersion(0, 65535, 0, 0).compareWith(Version(0, 1, 9, 9)), 65534);
    EXPECT_EQ(ComparableVersion(7, 7, 7, 7).compareWith(Version(7, 7, 7, 7)), 0);

    Version a(3, 1, 4, 1), b(3, 1, 4, 2);
    EXPECT_TRUE(a < b && a <= b && a != b && !(a > b) && !(a >= b) && !(a == b));
    EXPECT_TRUE(a == Version(3, 1, 4, 1) && a <= a && a >= a && !(a < a));

    Version c;
    c.set(9, 8, 7, 6);
    EXPECT_EQ(c.getMajor(), 9);
    EXPECT_EQ(c.getMinor(), 8);
    EXPECT_EQ(c.getMinor2(), 7);
    EXPECT_EQ(c.getBuild(), 6);
}

TEST(VersionOrder, OnlyAllZeroIsInvalid)
{
    EXPECT_FALSE(Version().isValid());
    EXPECT_FALSE(Version(0, 0, 0, 0).isValid());
    EXPECT_TRUE(Version(0, 0, 0, 1).isValid());
    EXPECT_TRUE(Version(0, 0, 1, 0).isValid());
    EXPECT_TRUE(Version(0, 1, 0, 0).isValid());
    EXPECT_TRUE(Version(1, 0, 0, 0).isValid());
}

TEST(VersionToInt, OneSignedByteEach)
{
    EXPECT_EQ(Version(1, 2, 3, 4).toInt(), 0x01020304);
    EXPECT_EQ(Version(1, 2, 3, 200).toInt(), 0x010202C8);
    // The high byte of each field plays no part.
    EXPECT_EQ(Version(0x0101, 0x4402, 0xFF03, 0x1204).toInt(), 0x01020304);
    // All parts -128: the sum wraps at 32 bits.
    EXPECT_EQ(Version(128, 128, 128, 128).toInt(), 0x7F7F7F80);
    // -1 in every byte: -(2^24 + 2^16 + 2^8 + 1).
    EXPECT_EQ(Version(255, 255, 255, 255).toInt(), -0x01010101);
}

TEST(VersionCurrent, IsTheBuiltVersion)
{
    EXPECT_EQ(Version(2, 12, 39, 0), Version::current());
    EXPECT_EQ(&Version::current(), &Version::current());
    ASSERT_NE(Version::currentUser(), nullptr);
    ASSERT_NE(Version::currentMachine(), nullptr);
    EXPECT_STRNE(Version::currentUser(), "");
    EXPECT_STRNE(Version::currentMachine(), "");
    EXPECT_STREQ(Version::getDebug(), "");
}

using VersionPackTest = LogCaptureTest;

TEST_F(VersionPackTest, NormalModeIsEightLittleEndianBytesAfterTheHeader)
{
    CPackedData message;
    Version(1, 2, 3, 4).pack(message);
    ASSERT_EQ(message.size(), 9);
    EXPECT_EQ(std::string(message.readData(), 9), std::string("\0\x01\0\x02\0\x03\0\x04\0", 9));

    CPackedData received(message.readData(), message.size());
    Version read;
    read.unpack(received);
    EXPECT_EQ(read, Version(1, 2, 3, 4));
    EXPECT_EQ(received.GetGetIndex(), 9);
    EXPECT_TRUE(texts().empty());
}

TEST_F(VersionPackTest, DebugModeTagsEveryField)
{
    CPackedData message;
    message.setDebug(true);
    Version(65535, 256, 0, 40000).pack(message);
    ASSERT_EQ(message.size(), 13);
    EXPECT_EQ(std::string(message.readData(), 13), std::string("\x01" "d\xFF\xFF" "d\0\x01" "d\0\0" "d\x40\x9C", 13));

    CPackedData received(message.readData(), message.size());
    Version read;
    read.unpack(received);
    EXPECT_EQ(read, Version(65535, 256, 0, 40000));
    EXPECT_FALSE(received.getReadErrorFlag());
    EXPECT_TRUE(texts().empty());
}

TEST_F(VersionPackTest, ShortMessageReadsMissingFieldsAsZero)
{
    const char bytes[] = {0, 7, 0, 8};  // header, major, half of minor
    CPackedData received(bytes, 4);
    Version read(9, 9, 9, 9);
    read.unpack(received);
    EXPECT_EQ(read, Version(7, 0, 0, 0));
}

TEST_F(VersionPackTest, ReadOnlyMessageRefusesEachField)
{
    const char bytes[] = {0, 1, 0};
    CPackedData view(bytes, 3);
    Version(1, 2, 3, 4).pack(view);
    EXPECT_EQ(texts().size(), 4u);
    EXPECT_EQ(std::string(view.readData(), 3), std::string(bytes, 3));
}

// A minimal image: DOS header, PE header, one .rsrc section at RVA 0x1000,
// file offset 0x200, holding a version resource (type 16, name 1, language
// 0x409) of whose fixed information the file and product versions differ.
struct ImageOptions {
    bool pe32Plus = false;
    bool resources = true;
    uint32_t type = 16;
    uint32_t fileMS = 0x00050006;
    uint32_t fileLS = 0x00070008;
    uint32_t productMS = 0x00090009;
    uint32_t productLS = 0x00090009;
    uint32_t signature = 0xFEEF04BD;
};

void put16(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

std::vector<uint8_t> buildImage(const ImageOptions &o = {})
{
    std::vector<uint8_t> b(0x400, 0);
    put16(b, 0, 0x5A4D);
    put32(b, 0x3C, 0x80);
    put32(b, 0x80, 0x00004550);
    size_t const header = 0x84;
    uint32_t const optionalSize = o.pe32Plus ? 240 : 224;
    put16(b, header, o.pe32Plus ? 0x8664 : 0x14C);
    put16(b, header + 2, 1);
    put16(b, header + 16, optionalSize);
    put16(b, header + 18, 0x2102);
    size_t const optional = header + 20;
    put16(b, optional, o.pe32Plus ? 0x20B : 0x10B);
    size_t const directories = optional + (o.pe32Plus ? 112 : 96);
    put32(b, directories - 4, 16);
    uint32_t const rsrcSize = 0xB4;
    if (o.resources) {
        put32(b, directories + 16, 0x1000);
        put32(b, directories + 20, rsrcSize);
    }
    size_t const section = optional + optionalSize;
    std::memcpy(&b[section], ".rsrc", 5);
    put32(b, section + 8, rsrcSize);
    put32(b, section + 12, 0x1000);
    put32(b, section + 16, 0x200);
    put32(b, section + 20, 0x200);

    size_t const r = 0x200;
    put16(b, r + 14, 1);  // root: one ID entry
    put32(b, r + 16, o.type);
    put32(b, r + 20, 0x80000018);
    put16(b, r + 0x18 + 14, 1);  // names
    put32(b, r + 0x18 + 16, 1);
    put32(b, r + 0x18 + 20, 0x80000030);
    put16(b, r + 0x30 + 14, 1);  // languages
    put32(b, r + 0x30 + 16, 0x409);
    put32(b, r + 0x30 + 20, 0x48);
    put32(b, r + 0x48, 0x1058);  // data entry: RVA, size
    put32(b, r + 0x48 + 4, 92);
    size_t const v = r + 0x58;  // VS_VERSIONINFO
    put16(b, v, 92);
    put16(b, v + 2, 52);
    const char key[] = "VS_VERSION_INFO";
    for (size_t i = 0; i < sizeof(key); ++i)
        put16(b, v + 6 + 2 * i, static_cast<uint8_t>(key[i]));
    size_t const fixed = v + 40;
    put32(b, fixed, o.signature);
    put32(b, fixed + 4, 0x00010000);
    put32(b, fixed + 8, o.fileMS);
    put32(b, fixed + 12, o.fileLS);
    put32(b, fixed + 16, o.productMS);
    put32(b, fixed + 20, o.productLS);
    return b;
}

class VersionFindTest : public LogCaptureTest {
protected:
    std::string write(const char *name, const std::vector<uint8_t> &bytes)
    {
        std::ofstream(m_directory.host() / name, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return m_directory.windows(name);
    }
    // find() on the bytes: the version and the lines it logged.
    Version findIn(const char *name, const std::vector<uint8_t> &bytes)
    {
        clearLines();
        return Version::find(write(name, bytes).c_str());
    }

    TempDirectory m_directory;
};

TEST_F(VersionFindTest, ReadsTheFileVersionNotTheProductVersion)
{
    EXPECT_EQ(findIn("app.exe", buildImage()), Version(5, 6, 7, 8));
    ImageOptions wide;
    wide.pe32Plus = true;
    wide.fileMS = 0xFFFF0001;
    wide.fileLS = 0x8000FFFE;
    EXPECT_EQ(findIn("app64.dll", buildImage(wide)), Version(65535, 1, 32768, 65534));
    EXPECT_TRUE(texts().empty());
}

TEST_F(VersionFindTest, MissingFileLogsTheSystemsReasonAfterThePath)
{
    std::string const path = m_directory.windows("absent.exe");
    Version found = Version::find(path.c_str());
    EXPECT_FALSE(found.isValid());
    EXPECT_EQ(texts(),
              (std::vector<std::string>{"ERROR : " + path + ": The system cannot find the file specified.\r\n"}));
}

TEST_F(VersionFindTest, FilesWithoutVersionInformationGiveZeroAndOneLine)
{
    ImageOptions noResources;
    noResources.resources = false;
    ImageOptions iconsOnly;
    iconsOnly.type = 3;
    std::vector<uint8_t> const text = {'h', 'e', 'l', 'l', 'o', '\n'};
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
    } const cases[] = {
        {"plain.dll", buildImage(noResources)},
        {"icons.dll", buildImage(iconsOnly)},
        {"notes.txt", text},
        {"empty.exe", {}},
    };
    for (const Case &c : cases) {
        EXPECT_FALSE(findIn(c.name, c.bytes).isValid()) << c.name;
        auto const lines = texts();
        ASSERT_EQ(lines.size(), 1u) << c.name;
        // The path is the line's prefix.
        EXPECT_EQ(lines[0].rfind("ERROR : " + m_directory.windows(c.name) + ": ", 0), 0u) << lines[0];
    }
}

TEST_F(VersionFindTest, VersionResourceWithoutFixedInformation)
{
    ImageOptions badSignature;
    badSignature.signature = 0x12345678;
    EXPECT_FALSE(findIn("odd.exe", buildImage(badSignature)).isValid());
    auto const lines = texts();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("ERROR : Failed to get version info: ", 0), 0u) << lines[0];
}

TEST_F(VersionFindTest, EveryTruncationGivesZeroAndOneLine)
{
    std::vector<uint8_t> const image = buildImage();
    // The fixed information ends at 0x200 + 0x58 + 92; every cut before that
    // loses it, and a cut inside the section's raw data loses the section.
    for (size_t length = 1; length < image.size(); length += (length < 0x300 ? 1 : 37)) {
        std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(findIn("cut.exe", cut).isValid()) << length;
        EXPECT_EQ(texts().size(), 1u) << length;
    }
}

TEST_F(VersionFindTest, HostileOffsetsAreRejected)
{
    std::vector<uint8_t> image = buildImage();
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
    for (size_t i = 0; i < hostile.size(); ++i) {
        EXPECT_FALSE(findIn("bad.exe", hostile[i]).isValid()) << i;
        EXPECT_EQ(texts().size(), 1u) << i;
    }

    // 131070 entries claimed: only those the section holds are looked at,
    // whether the type is among them or not.
    std::vector<uint8_t> crowded = patched(0x200 + 12, 0xFFFFFFFF);
    EXPECT_EQ(findIn("crowded.exe", crowded), Version(5, 6, 7, 8));
    put32(crowded, 0x200 + 16, 3);
    EXPECT_FALSE(findIn("crowded.exe", crowded).isValid());
    EXPECT_EQ(texts().size(), 1u);
}

TEST(VersionFindWithoutLogger, FailsQuietly)
{
    EXPECT_FALSE(Version::find("z:\\tmp\\no-such-dir-for-version\\x.exe").isValid());
}

}  // namespace
