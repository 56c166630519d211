// The cost of a log statement: one that its channel filters out, and one that
// is formatted and handed to a console callback. spdlog does the same work
// side by side: its disabled level, and a sink that formats the same line
// ("ERROR Network: ...") and hands it to the same kind of callback.
#include <benchmark/benchmark.h>

#include <SharedLib/enums/Log.h>
#include <SharedLib/log/LogStatement.h>

#ifdef SHAREDLIB_BENCH_SPDLOG
#include <spdlog/details/null_mutex.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <mutex>
#endif

namespace {

size_t g_delivered = 0;

void consoleCallback(LogItemSeverityLevel, int, char const *text, int headerLength, char const *)
{
    g_delivered += static_cast<size_t>(headerLength) + static_cast<unsigned char>(text[0]);
}

struct InstalledLogger {
    InstalledLogger() : logger("Bench", nullptr)
    {
        logger.setConsoleLogFunction(consoleCallback);
        logger.setOutputToDebugger(false);
        theLogger = &logger;
    }
    ~InstalledLogger() { theLogger = nullptr; }
    Logger logger;
};

void SharedLib_FilteredOut(benchmark::State &state)
{
    InstalledLogger installed;
    int i = 0;
    for (auto _ : state) {
        SHAREDLIB_LOG(LogSev_Info, Log_Network, "connection %d lost after %d ms", i, i + 1);
        ++i;
        benchmark::ClobberMemory();
    }
}
BENCHMARK(SharedLib_FilteredOut);

void SharedLib_LineToCallback(benchmark::State &state)
{
    InstalledLogger installed;
    int i = 0;
    for (auto _ : state) {
        SHAREDLIB_LOG(LogSev_Error, Log_Network, "connection %d lost after %d ms", i, i + 1);
        ++i;
    }
    benchmark::DoNotOptimize(g_delivered);
}
BENCHMARK(SharedLib_LineToCallback);

#ifdef SHAREDLIB_BENCH_SPDLOG
// A sink that formats each line with the logger's pattern and hands the text
// to a callback, as the logger's console target does.
template <typename Mutex>
class CallbackSink : public spdlog::sinks::base_sink<Mutex> {
protected:
    void sink_it_(spdlog::details::log_msg const &msg) override
    {
        spdlog::memory_buf_t formatted;
        this->formatter_->format(msg, formatted);
        formatted.push_back('\0');
        consoleCallback(LogSev_Error, 1, formatted.data(), 15, "");
    }
    void flush_() override {}
};

template <typename Sink>
std::shared_ptr<spdlog::logger> makeSpdlog()
{
    auto logger = std::make_shared<spdlog::logger>("Network", std::make_shared<Sink>());
    // The same text as the logger's header; no date, no line end.
    logger->set_formatter(
        std::make_unique<spdlog::pattern_formatter>("ERROR %n: %v", spdlog::pattern_time_type::local, ""));
    logger->set_level(spdlog::level::warn);
    return logger;
}

void Spdlog_FilteredOut(benchmark::State &state)
{
    auto logger = makeSpdlog<spdlog::sinks::null_sink_mt>();
    int i = 0;
    for (auto _ : state) {
        logger->info("connection {} lost after {} ms", i, i + 1);
        ++i;
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Spdlog_FilteredOut);

void Spdlog_LineToCallback_mt(benchmark::State &state)
{
    auto logger = makeSpdlog<CallbackSink<std::mutex>>();
    int i = 0;
    for (auto _ : state) {
        logger->error("connection {} lost after {} ms", i, i + 1);
        ++i;
    }
    benchmark::DoNotOptimize(g_delivered);
}
BENCHMARK(Spdlog_LineToCallback_mt);

void Spdlog_LineToCallback_st(benchmark::State &state)
{
    auto logger = makeSpdlog<CallbackSink<spdlog::details::null_mutex>>();
    int i = 0;
    for (auto _ : state) {
        logger->error("connection {} lost after {} ms", i, i + 1);
        ++i;
    }
    benchmark::DoNotOptimize(g_delivered);
}
BENCHMARK(Spdlog_LineToCallback_st);

void Spdlog_LineToNullSink(benchmark::State &state)
{
    auto logger = makeSpdlog<spdlog::sinks::null_sink_mt>();
    int i = 0;
    for (auto _ : state) {
        logger->error("connection {} lost after {} ms", i, i + 1);
        ++i;
    }
}
BENCHMARK(Spdlog_LineToNullSink);
#endif

}  // namespace
