// A small host: sets up the logger as a game program does at start-up, takes
// channel levels from its command line, and logs a few lines through every
// kind of statement.
//
//   log_demo [--level CHANNEL=SEVERITY]... [--quiet-debugger]
//   e.g. log_demo --level Network=detail --level RPC=none
#include <SharedLib/SharedLib.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void printLine(LogItemSeverityLevel severity, int channel, char const *text, int headerLength, char const *logFile)
{
    std::printf("[%-7s %-11s file=\"%s\" header=%2d] %s\n", LogSevLevelToName(severity).c_str(),
                Log_ValueToName(static_cast<Log>(channel)), logFile, headerLength, text);
}

bool applyLevel(Logger &logger, char const *setting)
{
    char const *equals = std::strchr(setting, '=');
    if (equals == nullptr)
        return false;
    std::string channelName(setting, equals);
    Log channel = Log_NameToValue(channelName.c_str());
    LogItemSeverityLevel level = LogSevNameToLevel(equals + 1);
    if (channel < 0 || level < 0)
        return false;
    logger.SetConditional(channel, level);
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    Logger logger("LogDemo", nullptr);
    logger.setConsoleLogFunction(printLine);
    logger.setUseDialogs(false);
    theLogger = &logger;

    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--level") == 0 && i + 1 < argc && applyLevel(logger, argv[i + 1])) {
            ++i;
        } else {
            std::fprintf(stderr, "log_demo: bad argument \"%s\"; use --level CHANNEL=SEVERITY\n", argv[i]);
            theLogger = nullptr;
            return 2;
        }
    }

    SHAREDLIB_LOG(LogSev_Info, Log_Generic, "%s starting, %d channels", "LogDemo", Log_Max);
    SHAREDLIB_LOG(LogSev_Warning, Log_Generic, "Generic shows no channel name");
    SHAREDLIB_LOG(LogSev_Error, Log_Network, "Unhandled to %s:%d: connection refused", "127.0.0.1", 7000);
    SHAREDLIB_LOG(LogSev_Info, Log_Network, "shown only with --level Network=info or more");
    SHAREDLIB_LOG(LogSev_Warning, Log_RPC, "RPC %s took %d ms", "Login", 250);
    logger.SetConditionalChannel(Log_Chat, "Chat");
    SHAREDLIB_LOG(LogSev_Error, Log_Chat, "chat lines go to their own file key");
    logger.screenlog(LogSev_Warning, Log_Connections, "screenlog reaches the console");
    logger.debuglog(LogSev_Warning, Log_Connections, "debuglog never does");

    std::printf("Error %d is %s: \"%s\"\n", Error_ConnectWriteTimeout, Error_ValueToName(Error_ConnectWriteTimeout),
                Error_ValueToDescription(Error_ConnectWriteTimeout));
    std::printf("Msg %d is %s\n", Msg_UDPAnnouncement, Msg_ValueToName(Msg_UDPAnnouncement));

    theLogger = nullptr;
    return 0;
}
