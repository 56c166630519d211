#include <cstdio>
#include <vector>

#include "ZoneProtocol.h"
#include "ZoneRouter.h"

namespace zone {
namespace {

void printLine(LogItemSeverityLevel, int, char const *text, int, char const *)
{
    std::fprintf(stderr, "%s\n", text);
}

}  // namespace

ZoneRouter &Router()
{
    static ZoneRouter router;
    return router;
}

Logger *InitZoneHost(char const *filePrefix, char const *logDirectory, std::vector<std::string> const &levels,
                     bool echoToConsole)
{
    InitGamePath(false, nullptr);
    //! [logger]
    auto *logger = new Logger(filePrefix, logDirectory);
    logger->setIncludePIDInName(true);
    logger->resetFilePrefix();
    logger->setFlushOnWrite(false);
    logger->setSecondsBetweenFlushes(2);
    logger->setUseDialogs(false);
    if (echoToConsole)
        logger->setConsoleLogFunction(printLine);
    for (std::string const &setting : levels) {
        size_t equals = setting.find('=');
        if (equals == std::string::npos)
            continue;
        Log channel = Log_NameToValue(setting.substr(0, equals).c_str());
        LogItemSeverityLevel level = LogSevNameToLevel(setting.substr(equals + 1));
        if (channel >= 0 && level >= 0)
            logger->SetConditional(channel, level);
    }
    theLogger = logger;
    //! [logger]

    //! [rpc setup]
    SetZoneEvents(&Router());
    RegisterZoneRpcs();
    CRpcMgr::GetInstance();
    CRpcMgr::RegisterSendMessage(SendToConnection);
    //! [rpc setup]
    return logger;
}

//! [shutdown]
void ShutdownZoneHost(Logger *logger)
{
    CRpcMgr::Cleanup();
    cleanupSharedTools();
    theLogger = nullptr;
    delete logger;
}
//! [shutdown]

}  // namespace zone
