#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

#include <SharedLib/platform/ChildProcess.h>
#include <SharedLib/util/Spawn.h>

extern char **environ;

namespace {

// The floor: posix_spawn of /bin/true and waitpid, no pipe, no polling.
void BM_PosixSpawnWaitpid(benchmark::State &state)
{
    char arg0[] = "true";
    char *argv[] = {arg0, nullptr};
    for (auto _ : state) {
        pid_t pid = -1;
        if (::posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("posix_spawn failed");
            break;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        benchmark::DoNotOptimize(status);
    }
}
BENCHMARK(BM_PosixSpawnWaitpid)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The platform layer alone: pipe, spawn, poll until exit, drain, exit code.
void BM_ChildProcess(benchmark::State &state)
{
    char buffer[1004];
    for (auto _ : state) {
        platform::ChildProcess child;
        if (!child.Start("/bin/true", "true")) {
            state.SkipWithError("start failed");
            break;
        }
        while (child.Wait(100) != platform::ChildProcess::WaitResult::Exited)
            child.Read(buffer, 1000);
        int32_t code = -1;
        child.GetExitCode(code);
        benchmark::DoNotOptimize(code);
    }
}
BENCHMARK(BM_ChildProcess)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The whole spawnWithLoggedOutput (no logger, no progress window).
void BM_SpawnWithLoggedOutput(benchmark::State &state)
{
    for (auto _ : state) {
        char commandLine[] = "true";
        int32_t code = spawnWithLoggedOutput("/bin/true", commandLine);
        benchmark::DoNotOptimize(code);
    }
}
BENCHMARK(BM_SpawnWithLoggedOutput)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
