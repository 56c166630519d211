#include "Systemd.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace platform::systemd {
namespace {

constexpr size_t kMaxUnitName = 255;
constexpr char kServiceSuffix[] = ".service";
constexpr uint32_t kNever = 0xFFFFFFFF;

std::string environmentValue(char const *name)
{
    char const *value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string homeDirectory()
{
    std::string home = environmentValue("HOME");
    if (!home.empty())
        return home;
    struct passwd entry {};
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_dir;
    return "/";
}

bool unitNameCharacter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
           c == '.' || c == '-';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Specifiers ('%') are expanded in every value a unit gives.
std::string escapeSpecifiers(std::string const &text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '%')
            escaped += '%';
        escaped += c;
    }
    return escaped;
}

std::string unescapeSpecifiers(std::string const &text)
{
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        plain += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%')
            ++i;
    }
    return plain;
}

// One command-line word of ExecStart= or Environment=. A word of plain
// characters stays as it is; any other is double-quoted with C escapes.
// ExecStart= also expands $NAME, so a dollar is doubled there.
std::string quoteWord(std::string const &word, bool doubleDollars)
{
    bool plain = !word.empty();
    for (unsigned char c : word)
        plain = plain && (unitNameCharacter(c) || c == '/' || c == ',' || c == '+' || c == '=' || c == '@');
    if (plain)
        return word;
    std::string quoted = "\"";
    for (unsigned char c : word) {
        switch (c) {
        case '\\': quoted += "\\\\"; break;
        case '"': quoted += "\\\""; break;
        case '\n': quoted += "\\n"; break;
        case '\t': quoted += "\\t"; break;
        case '%': quoted += "%%"; break;
        case '$': quoted += doubleDollars ? "$$" : "$"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[5];
                std::snprintf(escape, sizeof escape, "\\x%02x", c);
                quoted += escape;
            } else {
                quoted += static_cast<char>(c);
            }
        }
    }
    return quoted + "\"";
}

// The words of a value, unquoted and unescaped as the manager reads them.
std::vector<std::string> splitWords(std::string const &value, bool doubledDollars)
{
    std::string const text = unescapeSpecifiers(value);
    std::vector<std::string> words;
    size_t i = 0;
    for (;;) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i >= text.size())
            return words;
        std::string word;
        char quote = 0;
        for (; i < text.size(); ++i) {
            char const c = text[i];
            if (quote == 0 && (c == ' ' || c == '\t'))
                break;
            if (c == quote) {
                quote = 0;
            } else if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else if (c == '\\' && i + 1 < text.size()) {
                char const next = text[++i];
                if (next == 'n') {
                    word += '\n';
                } else if (next == 't') {
                    word += '\t';
                } else if (next == 'x' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                           hexValue(text[i + 2]) >= 0) {
                    word += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
                    i += 2;
                } else {
                    word += next;
                }
            } else if (doubledDollars && c == '$' && i + 1 < text.size() && text[i + 1] == '$') {
                word += '$';
                ++i;
            } else {
                word += c;
            }
        }
        words.push_back(std::move(word));
    }
}

std::string trim(std::string const &text)
{
    size_t const first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    size_t const last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Description= is one line of text.
std::string oneLine(std::string const &text)
{
    std::string line;
    for (unsigned char c : text)
        line += c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
    while (!line.empty() && (line.back() == '\\' || line.back() == ' '))
        line.pop_back();  // a trailing backslash would continue the line
    return escapeSpecifiers(line);
}

// Time spans as the unit writes them: "10s", "1500ms", "infinity".
std::string timeSpanMs(uint32_t milliseconds)
{
    if (milliseconds % 1000 == 0)
        return std::to_string(milliseconds / 1000) + "s";
    return std::to_string(milliseconds) + "ms";
}

// Milliseconds of a time span; kNever for "infinity".
uint32_t parseTimeSpanMs(std::string const &text)
{
    if (text == "infinity")
        return kNever;
    char *end = nullptr;
    unsigned long long const value = std::strtoull(text.c_str(), &end, 10);
    std::string const unit = trim(end);
    unsigned long long const ms = unit == "ms" ? value : value * 1000;
    return ms >= kNever ? kNever - 1 : static_cast<uint32_t>(ms);
}

}  // namespace

Scope CurrentScope()
{
    Scope scope;
    std::string const named = environmentValue("SHAREDLIB_SYSTEMD_SCOPE");
    scope.user = named.empty() ? ::geteuid() != 0 : named == "user";
    scope.unitDirectory = environmentValue("SHAREDLIB_SYSTEMD_UNIT_DIR");
    if (scope.unitDirectory.empty()) {
        if (!scope.user) {
            scope.unitDirectory = "/etc/systemd/system";
        } else {
            std::string const config = environmentValue("XDG_CONFIG_HOME");
            scope.unitDirectory =
                (!config.empty() && config[0] == '/' ? config : homeDirectory() + "/.config") + "/systemd/user";
        }
    }
    scope.systemctl = environmentValue("SHAREDLIB_SYSTEMCTL");
    if (scope.systemctl.empty())
        scope.systemctl = "systemctl";
    return scope;
}

std::string UnitName(std::string const &serviceName)
{
    std::string unit;
    for (size_t i = 0; i < serviceName.size(); ++i) {
        auto const c = static_cast<unsigned char>(serviceName[i]);
        if (unitNameCharacter(c) && !(i == 0 && c == '.')) {
            unit += static_cast<char>(c);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            unit += escape;
        }
    }
    unit += kServiceSuffix;
    if (serviceName.empty() || unit.size() > kMaxUnitName)
        return std::string();
    return unit;
}

std::string ServiceName(std::string const &unitName)
{
    size_t const suffix = sizeof kServiceSuffix - 1;
    if (unitName.size() <= suffix || unitName.compare(unitName.size() - suffix, suffix, kServiceSuffix) != 0)
        return std::string();
    std::string name;
    for (size_t i = 0; i < unitName.size() - suffix; ++i) {
        if (unitName[i] == '\\' && i + 3 < unitName.size() && unitName[i + 1] == 'x' &&
            hexValue(unitName[i + 2]) >= 0 && hexValue(unitName[i + 3]) >= 0) {
            name += static_cast<char>(hexValue(unitName[i + 2]) * 16 + hexValue(unitName[i + 3]));
            i += 3;
        } else {
            name += unitName[i];
        }
    }
    return name;
}

bool FormatUnit(UnitConfig const &config, bool userScope, std::string &text)
{
    // Windows repeats the last failure action for every later failure: restarts
    // that end the list go on for ever; restarts followed by "none" are a
    // number of starts allowed within the reset period.
    size_t restarts = 0;
    while (restarts < config.failureActions.size() && config.failureActions[restarts].type == SC_ACTION_RESTART)
        ++restarts;
    for (size_t i = restarts; i < config.failureActions.size(); ++i)
        if (config.failureActions[i].type != SC_ACTION_NONE)
            return false;
    bool const restartsForEver = restarts > 0 && restarts == config.failureActions.size();

    text = "[Unit]\n";
    text += "Description=" + oneLine(config.description) + "\n";
    for (std::string const &dependency : config.dependencies)
        text += "Requires=" + dependency + "\nAfter=" + dependency + "\n";
    if (restartsForEver) {
        text += "StartLimitIntervalSec=0\n";
    } else if (restarts > 0) {
        text += "StartLimitIntervalSec=" +
                (config.resetPeriod == kNever ? std::string("infinity")
                                              : std::to_string(config.resetPeriod > 0 ? config.resetPeriod : 1) + "s") +
                "\n";
        text += "StartLimitBurst=" + std::to_string(restarts + 1) + "\n";
    }

    text += "\n[Service]\n";
    text += "Type=notify\n";
    text += "Environment=" + quoteWord(std::string(kServiceVariable) + "=" + config.serviceName, false) + "\n";
    text += "ExecStart=";
    for (size_t i = 0; i < config.command.size(); ++i) {
        if (i > 0)
            text += ' ';
        text += quoteWord(config.command[i], true);
    }
    text += "\n";
    if (!config.workingDirectory.empty())
        text += "WorkingDirectory=" + escapeSpecifiers(config.workingDirectory) + "\n";
    if (!config.user.empty())
        text += "User=" + escapeSpecifiers(config.user) + "\n";
    if (restarts > 0) {
        text += "Restart=on-failure\n";
        text += "RestartSec=" + timeSpanMs(config.failureActions[0].delay) + "\n";
    }

    text += "\n[Install]\n";
    text += userScope ? "WantedBy=default.target\n" : "WantedBy=multi-user.target\n";
    return true;
}

UnitConfig ParseUnit(std::string const &text)
{
    UnitConfig config;
    bool restart = false;
    uint32_t restartDelay = 0;
    bool hasInterval = false;
    uint32_t intervalMs = 0;
    uint32_t burst = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string const line = trim(text.substr(start, end - start));
        start = end + 1;
        size_t const equals = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[' || equals == std::string::npos)
            continue;
        std::string const key = trim(line.substr(0, equals));
        std::string const value = trim(line.substr(equals + 1));
        if (key == "Description") {
            config.description = unescapeSpecifiers(value);
        } else if (key == "Requires") {
            // Unit names, kept escaped, between blanks.
            size_t from = 0;
            while ((from = value.find_first_not_of(" \t", from)) != std::string::npos) {
                size_t const to = value.find_first_of(" \t", from);
                config.dependencies.push_back(value.substr(from, to - from));
                from = to;
            }
        } else if (key == "Environment") {
            std::string const prefix = std::string(kServiceVariable) + "=";
            for (std::string const &assignment : splitWords(value, false))
                if (assignment.compare(0, prefix.size(), prefix) == 0)
                    config.serviceName = assignment.substr(prefix.size());
        } else if (key == "ExecStart") {
            config.command = splitWords(value, true);
        } else if (key == "WorkingDirectory") {
            config.workingDirectory = unescapeSpecifiers(value);
        } else if (key == "User") {
            config.user = unescapeSpecifiers(value);
        } else if (key == "Restart") {
            restart = value != "no";
        } else if (key == "RestartSec") {
            restartDelay = parseTimeSpanMs(value);
        } else if (key == "StartLimitIntervalSec") {
            hasInterval = true;
            intervalMs = parseTimeSpanMs(value);
        } else if (key == "StartLimitBurst") {
            burst = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        }
    }
    if (restart) {
        config.hasFailureActions = true;
        if (hasInterval && intervalMs != 0 && burst > 1) {
            config.resetPeriod = intervalMs == kNever ? kNever : intervalMs / 1000;
            config.failureActions.assign(burst - 1, ScAction{SC_ACTION_RESTART, restartDelay});
            config.failureActions.push_back(ScAction{SC_ACTION_NONE, 0});
        } else {
            config.resetPeriod = kNever;
            config.failureActions.push_back(ScAction{SC_ACTION_RESTART, restartDelay});
        }
    }
    return config;
}

int Systemctl(Scope const &scope, std::vector<std::string> const &arguments, std::string *output)
{
    std::vector<std::string> words{scope.systemctl};
    if (scope.user)
        words.emplace_back("--user");
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int ends[2] = {-1, -1};
    if (output != nullptr && ::pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    if (output != nullptr)
        ::posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int const started = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (output != nullptr) {
        ::close(ends[1]);
        if (started == 0) {
            char buffer[4096];
            for (;;) {
                ssize_t const got = ::read(ends[0], buffer, sizeof buffer);
                if (got > 0)
                    output->append(buffer, static_cast<size_t>(got));
                else if (got == 0 || errno != EINTR)
                    break;
            }
        }
        ::close(ends[0]);
    }
    if (started != 0) {
        errno = started;
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool Notify(std::string const &socketAddress, std::string const &message)
{
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (socketAddress.size() < 2 || socketAddress.size() > sizeof address.sun_path ||
        (socketAddress[0] != '/' && socketAddress[0] != '@'))
        return false;
    std::memcpy(address.sun_path, socketAddress.data(), socketAddress.size());
    if (socketAddress[0] == '@')
        address.sun_path[0] = '\0';  // an abstract address
    auto const length = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + socketAddress.size());
    int const fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ssize_t const sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<struct sockaddr const *>(&address), length);
    ::close(fd);
    return sent == static_cast<ssize_t>(message.size());
}

}  // namespace platform::systemd
