// sharedtool: checksums, codecs, enumeration look-ups and packet dumps for
// the game's operators and programmers.
//
// Exit status: 0 done, 1 bad input or a failed operation, 2 wrong usage.
#include <cstdio>
#include <cstring>
#include <string>

#include "ToolCommands.h"

namespace {

struct Command {
    char const *name;
    char const *summary;
    int (*run)(tool::Arguments const &);
};

const Command kCommands[] = {
    {"md5", "MD5 digest of a file or standard input", tool::Md5},
    {"encode", "Base16/32/64 text of a file or standard input", tool::Encode},
    {"decode", "bytes of Base16/32/64 text", tool::Decode},
    {"enum", "look up an Error, Event, Log, Msg or DBType value or name", tool::Enum},
    {"dump", "show a saved packet item by item", tool::Dump},
    {"version", "the file version of a Windows executable or library", tool::VersionOf},
    {"run", "run a command, its output into a numbered log file", tool::Run},
};

int usage(FILE *out)
{
    std::fprintf(out, "usage: sharedtool COMMAND [ARGUMENTS]   (sharedtool COMMAND --help for more)\n");
    for (Command const &command : kCommands)
        std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
    return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage(stderr);
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
        return usage(stdout);
    tool::Arguments arguments(argv + 2, argv + argc);
    for (Command const &command : kCommands)
        if (std::strcmp(argv[1], command.name) == 0)
            return command.run(arguments);
    std::fprintf(stderr, "sharedtool: unknown command %s\n", argv[1]);
    return usage(stderr);
}
