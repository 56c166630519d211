// sharedtool run: a command's output into a numbered log file while a
// progress bar moves on the terminal.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include <SharedLib/SharedLib.h>

#include "ToolCommands.h"

namespace tool {
namespace {

// A progress window drawn as one line on standard error.
class TerminalProgress : public CProgressWindow {
public:
    explicit TerminalProgress(bool enabled) : m_enabled(enabled) {}
    ~TerminalProgress() { finish(); }
    void start() override { draw(); }
    void refresh() override { draw(); }
    void setStatus(char const *text) override
    {
        std::snprintf(m_status, sizeof m_status, "%s", text);
        draw();
    }
    void setValue(float fraction) override
    {
        m_fraction = fraction < 0 ? 0 : (fraction > 1 ? 1 : fraction);
        draw();
    }
    void setOverrun(bool overrun) override { m_overrun = overrun; }
    bool isOverrun() override { return m_overrun; }
    void pulse() override
    {
        ++m_pulses;
        draw();
    }
    void finish() override
    {
        if (m_enabled && m_drawn)
            std::fputs("\n", stderr);
        m_drawn = false;
    }

private:
    void draw()
    {
        if (!m_enabled)
            return;
        constexpr int kWidth = 30;
        char bar[kWidth + 1];
        int filled = static_cast<int>(m_fraction * kWidth);
        for (int i = 0; i < kWidth; ++i)
            bar[i] = m_overrun ? ((i == m_pulses % kWidth) ? '#' : '.') : (i < filled ? '#' : '.');
        bar[kWidth] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%% %-40.40s", bar, static_cast<int>(m_fraction * 100), m_status);
        std::fflush(stderr);
        m_drawn = true;
    }

    bool m_enabled;
    bool m_drawn = false;
    bool m_overrun = false;
    int m_pulses = 0;
    float m_fraction = 0;
    char m_status[256] = "";
};

// Windows command-line quoting for one argument.
std::string quoteArgument(std::string const &argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string text = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

bool isProgramFile(std::filesystem::path const &candidate)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::file_status const status = fs::status(candidate, error);
    if (error || !fs::is_regular_file(status))
        return false;
    return (status.permissions() & (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec)) !=
           fs::perms::none;
}

// A shell looks a bare program name up on PATH; the library does not (it
// starts a name without a directory from the working directory), so the
// tool does the look-up first. A name with a directory, or one found on no
// PATH entry, goes to the library as given.
std::string searchPath(std::string const &program)
{
    if (program.empty() || program.find_first_of("/\\:") != std::string::npos)
        return program;
    char const *path = std::getenv("PATH");
    if (path == nullptr)
        return program;
    constexpr char kListSeparator = std::filesystem::path::preferred_separator == '\\' ? ';' : ':';
    std::string_view const entries(path);
    for (size_t start = 0; start <= entries.size();) {
        size_t end = entries.find(kListSeparator, start);
        if (end == std::string_view::npos)
            end = entries.size();
        std::string_view const directory = entries.substr(start, end - start);
        // An empty entry names the working directory.
        std::filesystem::path const candidate =
            std::filesystem::path(directory.empty() ? std::string(".") : std::string(directory)) / program;
        if (isProgramFile(candidate))
            return candidate.string();
        start = end + 1;
    }
    return program;
}

}  // namespace

int Run(Arguments const &arguments)
{
    std::string logs = "logs";
    std::string prefix = "Run";
    size_t at = 0;
    for (; at < arguments.size(); ++at) {
        if (arguments[at] == "--help" || arguments[at] == "-h") {
            std::printf("usage: sharedtool run [--logs DIR] [--prefix NAME] -- PROGRAM [ARGUMENTS...]\n"
                        "  Runs PROGRAM, writing its output into a numbered log file NAME_NNNNN.txt in DIR\n"
                        "  (default logs, below the working directory) while a progress bar moves.\n"
                        "  A PROGRAM without a directory is looked up on PATH, as a shell does.\n"
                        "  Exits with the program's exit code, or 1 when it cannot be started.\n");
            return 0;
        }
        if (arguments[at] == "--")
            break;
        if ((arguments[at] == "--logs" || arguments[at] == "--prefix") && at + 1 < arguments.size()) {
            (arguments[at] == "--logs" ? logs : prefix) = arguments[at + 1];
            ++at;
            continue;
        }
        return Fail(2, "run: unexpected " + arguments[at] + " (see sharedtool run --help)");
    }
    if (at + 1 >= arguments.size())
        return Fail(2, "run: no program given after --");
    std::string program = arguments[at + 1];
    std::string commandLine = quoteArgument(program);
    for (size_t i = at + 2; i < arguments.size(); ++i) {
        commandLine += ' ';
        commandLine += quoteArgument(arguments[i]);
    }

    InitGamePath(false, nullptr);
    // DIR is a path of this system; the logger takes the library's view of it.
    Logger logger(prefix.c_str(), platform::WindowsPath(logs).c_str());
    logger.setUseDialogs(false);
    logger.setOutputToDebugger(false);
    for (int channel = 0; channel < Log_Max; ++channel)
        logger.SetConditional(channel, LogSev_Info);
    theLogger = &logger;
    TerminalProgress window(platform::IsTerminal(2));
    CProgressWindow::g_pWindow = &window;
    std::string const programFile = searchPath(program);
    int32_t code = spawnWithLoggedOutput(programFile.c_str(), commandLine.data());
    CProgressWindow::g_pWindow = nullptr;
    window.finish();
    // The log file as this system names it: "/tmp/logs/Run_00002.txt" here.
    std::string const file = platform::HostPath(logger.getFileName().c_str());
    theLogger = nullptr;
    if (code == -1)
        return Fail(1, "run: cannot start " + program);
    std::printf("%s exited with %d; output in %s\n", program.c_str(), code, file.c_str());
    return code > 255 ? 1 : code;
}

}  // namespace tool
