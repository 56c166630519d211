#include <cstdio>
#include <deque>
#include <mutex>

#include "../MessageBox.h"
#include "../../testing/TestSeams.h"
#include "Common.h"

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
        show = hook == nullptr && s.scriptedAnswers.empty() && common::WindowedProgram();
        if (!show && s.echo)
            std::fprintf(stderr, "[%s] %s\n", shownCaption, shownText);
        if (hook != nullptr)
            return hookAnswer;
        if (!s.scriptedAnswers.empty()) {
            int answer = s.scriptedAnswers.front();
            s.scriptedAnswers.pop_front();
            return answer;
        }
    }
    if (!show)
        return firstButton(type);
    // The real box, shown without the lock: it waits for the user.
    int answer = common::ShowSystemMessageBox(owner, shownText, shownCaption, type);
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
