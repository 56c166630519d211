#include "WindowsApi.h"

#include <atomic>
#include <cstdio>

#include "../Debugger.h"

namespace platform {
namespace {

std::atomic<DebugOutputSink> g_sink{nullptr};
std::atomic<void *> g_sinkContext{nullptr};

}  // namespace

void OutputDebugStringA(const char *text)
{
    if (text == nullptr)
        return;
    // The system's call raises an exception for the debugger to catch: only
    // worth it when one is there.
    if (::IsDebuggerPresent())
        ::OutputDebugStringA(text);
    DebugOutputSink sink = g_sink.load(std::memory_order_acquire);
    if (sink != nullptr)
        sink(text, g_sinkContext.load(std::memory_order_relaxed));
}

void SetDebugOutputSink(DebugOutputSink sink, void *context)
{
    g_sinkContext.store(context, std::memory_order_relaxed);
    g_sink.store(sink, std::memory_order_release);
}

void DebugOutputToStandardError(const char *text, void *) { std::fputs(text, stderr); }

}  // namespace platform
