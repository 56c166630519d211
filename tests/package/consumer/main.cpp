// A program built against the installed package: the umbrella header alone.
#include <SharedLib/SharedLib.h>

#include <cstdio>
#include <cstring>

static void printLine(LogItemSeverityLevel, int, char const *text, int, char const *)
{
    std::printf("%s\n", text);
}

int main()
{
    Logger logger("Consumer", nullptr);
    logger.setConsoleLogFunction(printLine);
    theLogger = &logger;
    SHAREDLIB_LOG(LogSev_Error, Log_Network, "consumer %d", 42);
    theLogger = nullptr;
    return std::strcmp(Msg_ValueToName(Msg_RpcTable), "RpcTable") == 0 ? 0 : 1;
}
