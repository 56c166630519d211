#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <SharedLib/platform/DriveMap.h>
#include <SharedLib/platform/FileSystem.h>
#include <SharedLib/platform/Process.h>
#include <SharedLib/util/GamePath.h>

#include "support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;

// Starts the "program" in a mixed-case game directory and restores the
// working directory afterwards.
class GamePathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous = fs::current_path();
        fs::create_directories(temp.host() / "Games" / "Saltreach" / "Data" / "World" / "Rooms" / "Harbor");
        fs::current_path(temp.host() / "Games" / "Saltreach");
        game = temp.windows() + "\\games\\saltreach";
        for (char &c : game)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    void TearDown() override
    {
        fs::current_path(previous);
        platform::SetDocumentsFolder("");
    }

    TempDirectory temp;
    fs::path previous;
    std::string game;  // the lower-cased game path the library should derive
};

TEST_F(GamePathTest, InitFromTheWorkingDirectory)
{
    InitGamePath(false, nullptr);
    EXPECT_EQ(std::string(GetGamePath()) + "|" + GetParentPath() + "|" + GetRemoteGamePath() + "|" +
                  GetGameOutputPath(),
              game + "|" + game.substr(0, game.rfind('\\')) + "|" + game + "|" + game);

    // The lower-cased path still reaches the mixed-case directories.
    std::string room = MakeFullRoomPath("Harbor");
    std::ofstream(temp.host() / "Games" / "Saltreach" / "Data" / "World" / "Rooms" / "Harbor" / "Harbor") << "map";
    EXPECT_EQ(std::pair(room, platform::AccessPath(room.c_str(), platform::ACCESS_READ)),
              std::pair(game + "\\data\\World\\Rooms\\Harbor\\Harbor", 0));
}

TEST_F(GamePathTest, DocumentsFolderForOutput)
{
    platform::SetDocumentsFolder(temp.windows("Docs"));
    fs::create_directories(temp.host() / "Docs");
    InitGamePath(true, nullptr);
    EXPECT_STREQ(GetGameOutputPath(), temp.windows("Docs\\Saltreach").c_str());
    EXPECT_TRUE(fs::is_directory(temp.host() / "Docs" / "Saltreach"));
    InitGamePath(true, "Tools");
    EXPECT_EQ(std::string(GetGameOutputPath()) + "|" + GetOutputPath("logs") + "|" + GetGamePath(),
              temp.windows("Docs\\Tools") + "|" + temp.windows("Docs\\Tools\\logs") + "|" + game);
}

TEST_F(GamePathTest, MissingDocumentsFolderFallsBackToTheGamePath)
{
    // A home without a Documents folder (nor user-dirs.dirs): the output
    // stays beside the game.
    std::string const home = temp.host().string();
    std::vector<std::pair<char const *, std::optional<std::string>>> saved;
    for (auto [name, value] : {std::pair{"HOME", home.c_str()}, {"XDG_CONFIG_HOME", home.c_str()},
                               {"XDG_DOCUMENTS_DIR", nullptr}}) {
        char const *old = std::getenv(name);
        saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        platform::SetEnvironmentVariableA(name, value);
    }
    InitGamePath(true, nullptr);
    EXPECT_STREQ(GetGameOutputPath(), game.c_str());
    for (auto const &[name, value] : saved)
        platform::SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
}

TEST_F(GamePathTest, JoinsTheirExceptionsAndTheMoveToTheExecutable)
{
    InitGamePath(false, nullptr);
    // A single backslash is not absolute; a UNC path is, except for output.
    EXPECT_EQ((std::vector<std::string>{GetFullPath("d:\\data\\x.ini"), GetFullPath("\\\\server\\share\\x"),
                                        GetFullPath("\\x"), GetFullPath("cfg\\a.ini"), GetOutputPath("d:\\logs"),
                                        GetOutputPath("\\\\server\\share"), MakeFullPath(nullptr, "a.txt"),
                                        MakeFullPath("cfg", "a.txt")}),
              (std::vector<std::string>{"d:\\data\\x.ini", "\\\\server\\share\\x", game + "\\\\x",
                                        game + "\\cfg\\a.ini", "d:\\logs", game + "\\\\\\server\\share",
                                        game + "\\a.txt", game + "\\cfg\\a.txt"}));

    InitRemotePath("r:\\Remote");
    SetOutputPath("o:\\Out");
    EXPECT_EQ(GetRemoteFullPath("x") + "|" + MakeRemoteFullPath("sub", "x") + "|" + GetOutputPath("x"),
              "r:\\Remote\\x|r:\\Remote\\sub\\x|o:\\Out\\x");
    InitRemotePath(std::string(300, 'a').c_str());  // refused: the old value stays
    EXPECT_STREQ(GetRemoteGamePath(), "r:\\Remote");

    std::string upper = game;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(GetRelativePath((upper + "\\Data\\X.ini").c_str()) + "|" + GetRelativePath("c:\\elsewhere\\x.ini") + "|" +
                  GetRelativePath(game.c_str()),
              "Data\\X.ini|c:\\elsewhere\\x.ini|");
    // ForceExePath moves to the executable.
    EXPECT_EQ(ForceExePath(), 0);
    std::string executable;
    ASSERT_TRUE(platform::GetExecutablePath(executable));
    EXPECT_EQ(fs::current_path(), fs::path(platform::HostPath(executable.c_str())).parent_path());
}

TEST(PathHelpers, DirectoriesAndExtensions)
{
    TempDirectory temp;
    EXPECT_TRUE(ensureDirectoryExists(temp.windows("new").c_str()) &&
                ensureDirectoryExists(temp.windows("new").c_str()));  // twice
    EXPECT_FALSE(ensureDirectoryExists(temp.windows("missing\\child").c_str()));

    struct Case { char const *name, *extension; bool has; };
    for (Case c : {Case{"Map.PIG", "pig", true}, {"a.tar.gz", "gz", true}, {"a.tar.gz", "tar.gz", false},
                   {"Map", "pig", false}, {"Map.pig", ".pig", false}, {"Map.pigs", "pig", false},
                   {nullptr, "pig", false}, {"Map.pig", nullptr, false}})
        EXPECT_EQ(hasExtension(c.name, c.extension), c.has) << (c.name ? c.name : "null");
}

}  // namespace
