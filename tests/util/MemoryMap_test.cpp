#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <SharedLib/util/MemoryMap.h>

#include "support/LogCapture.h"
#include "support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;

// Files in a fresh temporary directory, opened by their Windows paths.
class MemoryMapTest : public LogCaptureTest {
protected:
    std::string write(char const *name, std::string const &bytes)
    {
        std::ofstream(m_temp.host() / name, std::ios::binary) << bytes;
        return m_temp.windows(name);
    }

    TempDirectory m_temp;
};

TEST_F(MemoryMapTest, ShowsTheFilesBytes)
{
    std::string bytes("head\0\x01\xFFtail", 11);
    bytes += std::string(70000, 'x');  // more than one page
    MemoryMap map(write("data.bin", bytes).c_str());
    ASSERT_NE(map.GetBuffer(), nullptr);
    ASSERT_EQ(map.GetSize(), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(std::memcmp(map.GetBuffer(), bytes.data(), bytes.size()), 0);
    EXPECT_TRUE(texts().empty());
}

TEST_F(MemoryMapTest, FailuresAreLoggedWithTheSystemsReason)
{
    char const *const names[] = {"empty.bin", "missing.bin", "folder"};
    write("empty.bin", "");
    fs::create_directory(m_temp.host() / "folder");
    for (char const *name : names) {
        MemoryMap map(m_temp.windows(name).c_str());
        EXPECT_TRUE(map.GetBuffer() == nullptr && map.GetSize() == 0) << name;
    }
    MemoryMap none(nullptr);
    EXPECT_EQ(none.GetBuffer(), nullptr);
    theLogger = nullptr;  // quietly without a logger
    EXPECT_EQ(MemoryMap(m_temp.windows("missing.bin").c_str()).GetBuffer(), nullptr);
    theLogger = &logger();
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "ERROR : MemoryMap: Cannot create file mapping on 0-byte file",
                           "ERROR : MemoryMap: Unable to open file: The system cannot find the file specified.\r\n",
                           "ERROR : MemoryMap: Unable to open file: Access is denied.\r\n",
                           "ERROR : MemoryMap: Unable to open file: The system cannot find the path specified.\r\n",
                       }));
}

TEST_F(MemoryMapTest, HeldFileRefusesOtherOpenersUntilReleased)
{
    std::string path = write("held.bin", "abc");
    {
        MemoryMap first(path.c_str());
        ASSERT_NE(first.GetBuffer(), nullptr);
        MemoryMap second(path.c_str());
        EXPECT_EQ(second.GetBuffer(), nullptr);
        EXPECT_EQ(texts(), (std::vector<std::string>{"ERROR : MemoryMap: Unable to open file: The process cannot "
                                                     "access the file because it is being used by another "
                                                     "process.\r\n"}));
        // The refused object released nothing of the holder's.
        EXPECT_EQ(std::memcmp(first.GetBuffer(), "abc", 3), 0);
    }
    MemoryMap again(path.c_str());
    ASSERT_NE(again.GetBuffer(), nullptr);
    EXPECT_EQ(again.GetSize(), 3);
}

TEST_F(MemoryMapTest, TruncatingTheFileNeverFaultsTheReader)
{
    std::string const bytes(3 * 4096 + 100, 'm');
    std::string const path = write("shrinking.bin", bytes);
    MemoryMap map(path.c_str());
    ASSERT_NE(map.GetBuffer(), nullptr);
    // Another opener (the hold is advisory here) cuts the file to nothing.
    std::error_code error;
    fs::resize_file(m_temp.host() / "shrinking.bin", 0, error);
    ASSERT_FALSE(error) << error.message();
    auto const *view = static_cast<char const *>(map.GetBuffer());
    EXPECT_EQ(std::string(view, static_cast<size_t>(map.GetSize())), bytes);
}

}  // namespace
