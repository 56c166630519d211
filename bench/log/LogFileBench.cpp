// Lines per second into a log file: the logger's file target against spdlog's
// basic_file_sink_st, the same line (a full date, "ERROR Network: ", the text,
// CR LF) with the same flush policy: every line, or only when the buffer fills.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>

#include <SharedLib/enums/Log.h>
#include <SharedLib/log/LogStatement.h>

#ifdef SHAREDLIB_BENCH_SPDLOG
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

namespace {

namespace fs = std::filesystem;

struct ScratchDirectory {
    ScratchDirectory()
    {
        path = fs::temp_directory_path() / ("sharedlib-bench-" + std::to_string(::getpid()));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~ScratchDirectory() { fs::remove_all(path); }
    std::string windows() const { return "z:" + path.string(); }  // forward slashes map too
    fs::path path;
};

void SharedLib_FileLines(benchmark::State &state)
{
    ScratchDirectory scratch;
    Logger logger("Bench", scratch.windows().c_str());
    logger.setOutputToDebugger(false);
    logger.setFlushOnWrite(state.range(0) != 0);
    logger.SetConditionalLevelFlag(Log_Network, true);
    theLogger = &logger;
    int i = 0;
    for (auto _ : state) {
        // A warning line: tagged, but not flushed at once as error lines are.
        SHAREDLIB_LOG(LogSev_Warning, Log_Network, "connection %d lost after %d ms", i, i + 1);
        ++i;
    }
    theLogger = nullptr;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(SharedLib_FileLines)->ArgName("flushEveryLine")->Arg(1)->Arg(0);

#ifdef SHAREDLIB_BENCH_SPDLOG
void Spdlog_FileLines(benchmark::State &state)
{
    ScratchDirectory scratch;
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_st>((scratch.path / "spdlog.txt").string());
    spdlog::logger logger("Network", sink);
    logger.set_formatter(std::make_unique<spdlog::pattern_formatter>("%c WARNING %n: %v",
                                                                     spdlog::pattern_time_type::local, "\r\n"));
    if (state.range(0) != 0)
        logger.flush_on(spdlog::level::trace);
    int i = 0;
    for (auto _ : state) {
        logger.warn("connection {} lost after {} ms", i, i + 1);
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(Spdlog_FileLines)->ArgName("flushEveryLine")->Arg(1)->Arg(0);
#endif

}  // namespace
