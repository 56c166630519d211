#include <SharedLib/enums/DBType.h>
#include <SharedLib/enums/Error.h>
#include <SharedLib/enums/Event.h>
#include <SharedLib/enums/Log.h>
#include <SharedLib/enums/Msg.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

static_assert(std::is_same_v<std::underlying_type_t<Error>, int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<DBType>, int32_t>);
static_assert(std::is_convertible_v<Log, int>, "channels are passed as plain int");

namespace {

// One enumeration seen through its arrays and its three look-ups.
struct Family {
    const char **names, **descriptions;
    int32_t max;
    const char *(*toName)(int32_t), *(*toDescription)(int32_t);
    int32_t (*toValue)(const char *);
};

#define FAMILY(E)                                                                         \
    {#E, Family{g##E##_Names, g##E##_Description, E##_Max,                                \
                [](int32_t v) { return E##_ValueToName(static_cast<E>(v)); },             \
                [](int32_t v) { return E##_ValueToDescription(static_cast<E>(v)); },      \
                [](const char *s) { return static_cast<int32_t>(E##_NameToValue(s)); }}}

const std::map<std::string, Family> kFamilies = {FAMILY(Error), FAMILY(Event), FAMILY(Log), FAMILY(Msg),
                                                 FAMILY(DBType)};

std::string Flipped(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
    return s;
}

// Values and names are kept on disk and on the wire by other programs; the
// list next to this file is what they were released with (family, value, name,
// description, tab-separated, the Max row of each family included).
TEST(Enums, EveryRowMatchesTheReleasedList)
{
    std::string path = __FILE__;
    path = path.substr(0, path.find_last_of("/\\") + 1) + "enum_rows.txt";
    std::ifstream file(path);
    ASSERT_TRUE(file) << path;
    std::map<std::string, int32_t> rows;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream fields(line);
        std::string family, value, name, description;
        std::getline(std::getline(std::getline(std::getline(fields, family, '\t'), value, '\t'), name, '\t'), description);
        SCOPED_TRACE(line);
        ASSERT_EQ(kFamilies.count(family), 1u);
        const Family &f = kFamilies.at(family);
        const int32_t v = std::stoi(value);
        ASSERT_EQ(v, rows[family]++);  // in value order, none missing
        ASSERT_LE(v, f.max);
        EXPECT_TRUE(f.names[v] == name && f.descriptions[v] == description);
        if (v < f.max) {
            EXPECT_TRUE(f.toName(v) == name && f.toDescription(v) == description);
            // Case-blind, and a later row equal ignoring case would be found at the earlier index.
            EXPECT_EQ(f.toValue(name.c_str()), v);
            EXPECT_EQ(f.toValue(Flipped(name).c_str()), v);
        }
    }
    for (const auto &[label, f] : kFamilies) {
        SCOPED_TRACE(label);
        EXPECT_EQ(rows[label], f.max + 1);
        EXPECT_EQ(std::string(f.names[f.max + 1]) + f.descriptions[f.max + 1], "");
    }
}

// Values outside the rows name "Error"; unmatched names give -1.
TEST(Enums, LookupsOutsideTheRows)
{
    for (const auto &[label, f] : kFamilies) {
        SCOPED_TRACE(label);
        for (int32_t v : {-1, INT32_MIN, f.max, f.max + 1, INT32_MAX})
            EXPECT_EQ(std::string(f.toName(v)) + "/" + f.toDescription(v), "Error/Error") << v;
        const std::string first = f.names[0];
        for (const std::string &s : {std::string("Max"), std::string("max"), std::string("Error"), std::string(""),
                                     std::string("0"), first + " ", " " + first, first.substr(0, first.size() - 1),
                                     first + "x"})
            EXPECT_EQ(f.toValue(s.c_str()), -1) << '"' << s << '"';
    }
    // Only letters fold: '_' and DEL differ by the case bit but are not a case pair.
    EXPECT_EQ(Log_NameToValue("SHAREDOBJECT\x7Fref"), -1);
    EXPECT_EQ(Log_NameToValue("SHAREDOBJECT_ref"), Log_SharedObject_Ref);
    EXPECT_EQ(Error_NameToValue(nullptr), -1);
}

TEST(Enums, ReplacedEntriesChangeTheLookups)
{
    for (const auto &[label, f] : kFamilies) {
        SCOPED_TRACE(label);
        const char *oldName = f.names[1], *oldDescription = f.descriptions[1];
        f.names[1] = "Replaced_Row", f.descriptions[1] = "A replaced row";
        EXPECT_STREQ(f.toName(1), "Replaced_Row");
        EXPECT_STREQ(f.toDescription(1), "A replaced row");
        EXPECT_TRUE(f.toValue("replaced_row") == 1 && f.toValue(oldName) == -1);
        f.names[1] = oldName, f.descriptions[1] = oldDescription;
        EXPECT_EQ(f.toValue(oldName), 1);
    }
}

}  // namespace
