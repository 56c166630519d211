#include "WindowsApi.h"

#include <cstdio>
#include <deque>
#include <mutex>

#include "../MessageBox.h"
#include "../../testing/TestSeams.h"

namespace platform {
namespace {

// Enough history for any test; a program that raises boxes forever stays bounded.
constexpr size_t kRecordLimit = 64;

struct MessageBoxState {
    std::mutex lock;
    std::deque<MessageBoxRecord> records;
    std::deque<int> scriptedAnswers;
    bool echo = true;
    MessageBoxHook hook = nullptr;
    void *hookContext = nullptr;
};

MessageBoxState &state()
{
    static MessageBoxState instance;
    return instance;
}

int firstButton(uint32_t type)
{
    uint32_t buttons = type & 0xF;
    return (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) ? IDYES : IDOK;
}

// Whether the program is a windowed one. A console program (a server, a
// tool, a test) may have nobody at the screen: its boxes go to standard
// error and are answered at once, so that they never hold it.
bool windowedProgram()
{
    static bool const windowed = [] {
        auto const *base = reinterpret_cast<unsigned char const *>(::GetModuleHandleA(nullptr));
        if (base == nullptr)
            return false;
        auto const *dos = reinterpret_cast<IMAGE_DOS_HEADER const *>(base);
        auto const *nt = reinterpret_cast<IMAGE_NT_HEADERS const *>(base + dos->e_lfanew);
        return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
    }();
    return windowed;
}

}  // namespace

int MessageBoxA(void *owner, const char *text, const char *caption, uint32_t type)
{
    const char *shownText = text != nullptr ? text : "";
    const char *shownCaption = caption != nullptr ? caption : "Error";
    MessageBoxState &s = state();
    MessageBoxHook hook;
    void *hookContext;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        hook = s.hook;
        hookContext = s.hookContext;
    }
    // The hook runs unlocked, so it may itself raise a box or log.
    int hookAnswer = hook != nullptr ? hook(shownText, shownCaption, type, hookContext) : 0;

    bool show = false;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.records.size() == kRecordLimit)
            s.records.pop_front();
        s.records.push_back(MessageBoxRecord{shownText, shownCaption, type});
        if (hook != nullptr)
            return hookAnswer;
        if (!s.scriptedAnswers.empty()) {
            int answer = s.scriptedAnswers.front();
            s.scriptedAnswers.pop_front();
            return answer;
        }
        show = windowedProgram();
        if (!show && s.echo)
            std::fprintf(stderr, "[%s] %s\n", shownCaption, shownText);
    }
    if (!show)
        return firstButton(type);
    // The real box, shown without the lock: it waits for the user.
    int answer = ::MessageBoxA(static_cast<HWND>(owner), shownText, shownCaption, type);
    return answer != 0 ? answer : firstButton(type);
}

std::vector<MessageBoxRecord> seam::TakeMessageBoxRecords()
{
    MessageBoxState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::vector<MessageBoxRecord> taken(s.records.begin(), s.records.end());
    s.records.clear();
    return taken;
}

void seam::ScriptMessageBoxAnswer(int answer)
{
    MessageBoxState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.scriptedAnswers.push_back(answer);
}

void SetMessageBoxEcho(bool echoToStandardError)
{
    MessageBoxState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.echo = echoToStandardError;
}

void SetMessageBoxHook(MessageBoxHook hook, void *context)
{
    MessageBoxState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.hook = hook;
    s.hookContext = context;
}

}  // namespace platform
