#include "ToolCommands.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>

#include <SharedLib/SharedLib.h>

namespace tool {
namespace {

bool wantsHelp(Arguments const &arguments)
{
    for (std::string const &argument : arguments)
        if (argument == "--help" || argument == "-h")
            return true;
    return false;
}

struct Codec {
    char const *name;
    uint32_t (*encodedLength)(uint32_t);
    uint32_t (*encode)(void *, const void *, uint32_t);
    uint32_t (*decodedLength)(uint32_t);
    uint32_t (*decode)(void *, const void *, uint32_t);
};

const Codec kCodecs[] = {
    {"b16", CyoEncode::Base16EncodeGetLength, CyoEncode::Base16Encode, CyoDecode::Base16DecodeGetLength,
     CyoDecode::Base16Decode},
    {"b32", CyoEncode::Base32EncodeGetLength, CyoEncode::Base32Encode, CyoDecode::Base32DecodeGetLength,
     CyoDecode::Base32Decode},
    {"b64", CyoEncode::Base64EncodeGetLength, CyoEncode::Base64Encode, CyoDecode::Base64DecodeGetLength,
     CyoDecode::Base64Decode},
};

Codec const *findCodec(std::string const &name)
{
    for (Codec const &codec : kCodecs)
        if (name == codec.name)
            return &codec;
    return nullptr;
}

// Text to decode: line ends and blanks around it do not belong to it.
std::string withoutWhiteSpace(std::string const &text)
{
    std::string kept;
    for (char c : text)
        if (c != '\n' && c != '\r' && c != ' ' && c != '\t')
            kept += c;
    return kept;
}

struct EnumTable {
    char const *name;
    int count;
    const char *(*valueToName)(int);
    const char *(*valueToDescription)(int);
    int (*nameToValue)(const char *);
};

template <typename E, const char *(*ToName)(E), const char *(*ToDescription)(E), E (*FromName)(const char *)>
EnumTable makeTable(char const *name, int count)
{
    return EnumTable{name, count, [](int v) { return ToName(static_cast<E>(v)); },
                     [](int v) { return ToDescription(static_cast<E>(v)); },
                     [](const char *n) { return static_cast<int>(FromName(n)); }};
}

std::vector<EnumTable> enumTables()
{
    return {
        makeTable<Error, Error_ValueToName, Error_ValueToDescription, Error_NameToValue>("Error", Error_Max),
        makeTable<Event, Event_ValueToName, Event_ValueToDescription, Event_NameToValue>("Event", Event_Max),
        makeTable<Log, Log_ValueToName, Log_ValueToDescription, Log_NameToValue>("Log", Log_Max),
        makeTable<Msg, Msg_ValueToName, Msg_ValueToDescription, Msg_NameToValue>("Msg", Msg_Max),
        makeTable<DBType, DBType_ValueToName, DBType_ValueToDescription, DBType_NameToValue>("DBType",
                                                                                            DBType_Max),
    };
}

bool isNumber(std::string const &text)
{
    if (text.empty())
        return false;
    for (size_t i = (text[0] == '-') ? 1 : 0; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return text != "-";
}

void printLine(LogItemSeverityLevel, int, char const *text, int, char const *)
{
    std::printf("%s\n", text);
}

}  // namespace

int Fail(int status, std::string const &message)
{
    std::fprintf(stderr, "sharedtool: %s\n", message.c_str());
    return status;
}

bool ReadInput(std::string const &name, std::string &bytes, std::string &error)
{
    if (name == "-") {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        error = "cannot read " + name;
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

int Md5(Arguments const &arguments)
{
    if (wantsHelp(arguments) || arguments.size() > 1) {
        std::printf("usage: sharedtool md5 [FILE|-]\n  Prints the MD5 digest (RFC 1321) of a file or of standard "
                    "input, as 32 hexadecimal digits.\n");
        return arguments.size() > 1 ? 2 : 0;
    }
    std::string bytes, error;
    if (!ReadInput(arguments.empty() ? "-" : arguments[0], bytes, error))
        return Fail(1, error);
    md5_state_s state;
    md5_init(&state);
    // md5_append takes a 32-bit count: feed large inputs in pieces.
    for (size_t at = 0; at < bytes.size(); at += 1u << 30) {
        size_t piece = std::min<size_t>(bytes.size() - at, 1u << 30);
        md5_append(&state, reinterpret_cast<const uint8_t *>(bytes.data() + at), static_cast<int32_t>(piece));
    }
    uint8_t digest[16];
    md5_finish(&state, digest);
    for (uint8_t byte : digest)
        std::printf("%02x", byte);
    std::printf("\n");
    return 0;
}

int Encode(Arguments const &arguments)
{
    if (wantsHelp(arguments) || arguments.empty() || arguments.size() > 2 || findCodec(arguments[0]) == nullptr) {
        std::printf("usage: sharedtool encode b16|b32|b64 [FILE|-]\n  Writes the Base16, Base32 or Base64 text "
                    "(RFC 4648) of a file or of standard input.\n");
        return wantsHelp(arguments) ? 0 : 2;
    }
    Codec const *codec = findCodec(arguments[0]);
    std::string bytes, error;
    if (!ReadInput(arguments.size() > 1 ? arguments[1] : "-", bytes, error))
        return Fail(1, error);
    if (bytes.size() > 0x7FFFFFFF / 2)
        return Fail(1, "input too large");
    std::string text(codec->encodedLength(static_cast<uint32_t>(bytes.size())), '\0');
    uint32_t written = codec->encode(text.data(), bytes.data(), static_cast<uint32_t>(bytes.size()));
    text.resize(written);
    std::printf("%s\n", text.c_str());
    return 0;
}

int Decode(Arguments const &arguments)
{
    if (wantsHelp(arguments) || arguments.empty() || arguments.size() > 2 || findCodec(arguments[0]) == nullptr) {
        std::printf("usage: sharedtool decode b16|b32|b64 [FILE|-]\n  Writes the bytes that Base16, Base32 or "
                    "Base64 text stands for; line ends in the text are ignored.\n");
        return wantsHelp(arguments) ? 0 : 2;
    }
    Codec const *codec = findCodec(arguments[0]);
    std::string text, error;
    if (!ReadInput(arguments.size() > 1 ? arguments[1] : "-", text, error))
        return Fail(1, error);
    text = withoutWhiteSpace(text);
    if (text.size() > 0xFFFFFFFFu)
        return Fail(1, "input too large");
    std::string bytes;
    try {
        bytes.resize(codec->decodedLength(static_cast<uint32_t>(text.size())));
        uint32_t written = codec->decode(bytes.data(), text.data(), static_cast<uint32_t>(text.size()));
        bytes.resize(written);
    } catch (std::exception const &failure) {
        return Fail(1, std::string("bad ") + codec->name + " text: " + failure.what());
    }
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return 0;
}

int Enum(Arguments const &arguments)
{
    auto tables = enumTables();
    if (wantsHelp(arguments) || arguments.size() != 2) {
        std::printf("usage: sharedtool enum ENUMERATION VALUE|NAME\n  ENUMERATION is Error, Event, Log, Msg or "
                    "DBType (any case). Prints the value, name and description, e.g.\n  sharedtool enum Error 29\n"
                    "  sharedtool enum Log network\n");
        return wantsHelp(arguments) ? 0 : 2;
    }
    for (EnumTable const &table : tables) {
        std::string wanted = arguments[0];
        std::string name = table.name;
        if (wanted.size() != name.size() ||
            !std::equal(wanted.begin(), wanted.end(), name.begin(),
                        [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            continue;
        int value;
        if (isNumber(arguments[1])) {
            value = std::atoi(arguments[1].c_str());
            if (value < 0 || value >= table.count)
                return Fail(1, arguments[1] + " is not a value of " + table.name + " (0 to " +
                                   std::to_string(table.count - 1) + ")");
        } else {
            value = table.nameToValue(arguments[1].c_str());
            if (value < 0)
                return Fail(1, "no " + std::string(table.name) + " is named " + arguments[1]);
        }
        std::printf("%s %d %s: %s\n", table.name, value, table.valueToName(value), table.valueToDescription(value));
        return 0;
    }
    return Fail(2, "unknown enumeration " + arguments[0] + " (Error, Event, Log, Msg or DBType)");
}

int Dump(Arguments const &arguments)
{
    if (wantsHelp(arguments) || arguments.size() != 1) {
        std::printf("usage: sharedtool dump FILE\n  Shows a saved packet as the library's dump does: a debug packet "
                    "item by item, any packet with its header and size.\n");
        return wantsHelp(arguments) ? 0 : 2;
    }
    std::string bytes, error;
    if (!ReadInput(arguments[0], bytes, error))
        return Fail(1, error);
    if (bytes.empty() || bytes.size() > 0x7FFFFFFF)
        return Fail(1, "no packet in " + arguments[0]);
    Logger logger("sharedtool", nullptr);
    logger.setLogLocationMask(LogLocation_Console);
    logger.setConsoleLogFunction(printLine);
    logger.setUseDialogs(false);
    for (int channel = 0; channel < Log_Max; ++channel)
        logger.SetConditional(channel, LogSev_Detail);
    theLogger = &logger;
    CPackedData packet(bytes.data(), static_cast<int>(bytes.size()));
    packet.ReadHeader();
    packet.setGetIndex(0);
    packet.dump();
    theLogger = nullptr;
    return 0;
}

}  // namespace tool

namespace tool {

int VersionOf(Arguments const &arguments)
{
    if (arguments.size() != 1 || arguments[0] == "--help" || arguments[0] == "-h") {
        std::printf("usage: sharedtool version FILE\n  Prints the file version in the version resource of a Windows "
                    "executable or library (FILE may be a Windows path such as z:\\\\srv\\\\game\\\\zone.exe).\n");
        return arguments.size() == 1 ? 0 : 2;
    }
    Logger logger("sharedtool", nullptr);
    logger.setLogLocationMask(LogLocation_Console);
    logger.setConsoleLogFunction([](LogItemSeverityLevel, int, char const *text, int, char const *) {
        std::fprintf(stderr, "sharedtool: %s\n", text);
    });
    logger.setUseDialogs(false);
    theLogger = &logger;
    // A host path is reached through the z: drive.
    std::string path = arguments[0];
    if (!path.empty() && path[0] == '/')
        path = "z:" + path;
    Version version = Version::find(path.c_str());
    theLogger = nullptr;
    if (!version.isValid())
        return 1;
    std::printf("%u.%u.%u.%u\n", version.getMajor(), version.getMinor(), version.getMinor2(), version.getBuild());
    return 0;
}

}  // namespace tool
