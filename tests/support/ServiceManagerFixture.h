// The service manager's fixture: services go to a systemd stand-in on the
// PATH, with their unit files and message boxes in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <SharedLib/platform/DriveMap.h>
#include <SharedLib/platform/FileSystem.h>
#include <SharedLib/platform/LastError.h>
#include <SharedLib/platform/MessageBox.h>
#include <SharedLib/platform/Process.h>
#include <SharedLib/platform/ServiceControl.h>
#include <SharedLib/service/ServiceManager.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/TempDirectory.h"

namespace {


using Kest::Orv::ServiceManager;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

constexpr char kName[] = "ZoneServer";
constexpr char kDisplay[] = "Zone Server";

// Sets an environment variable; an empty value unsets it.
void setVariable(char const *name, std::string const &value)
{
    platform::SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}

// A systemctl that records its calls, fails a verb when a file "fail-<verb>"
// says so, and answers cat and is-enabled from the unit directory.
constexpr char kSystemctl[] = R"(#!/bin/sh
state=${SHAREDLIB_SYSTEMD_UNIT_DIR%/*}
printf '%s\n' "$*" >> "$state/systemctl.log"
verb= unit=
for word; do case $word in -*) ;; *) if [ -z "$verb" ]; then verb=$word; else unit=$word; fi;; esac; done
[ -e "$state/fail-$verb" ] && exit 1
case $verb in
cat) [ -f "$SHAREDLIB_SYSTEMD_UNIT_DIR/$unit" ] || exit 1; echo "# $unit"; cat "$SHAREDLIB_SYSTEMD_UNIT_DIR/$unit";;
enable) touch "$state/$unit.enabled";;
disable) rm -f "$state/$unit.enabled";;
is-enabled) if [ -e "$state/$unit.enabled" ]; then echo enabled; else echo disabled; exit 1; fi;;
esac
exit 0
)";

// Services go to a systemd stand-in early on the PATH (after a folder that is
// not there), with the unit directory in a scratch folder (the Windows
// build's manager ignores both).
class ServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::ResetServiceControl();
        platform::SetMessageBoxEcho(false);
        platform::TakeMessageBoxRecords();
        fs::create_directories(dir.host() / "bin");
        std::ofstream(dir.host() / "bin" / "systemctl", std::ios::binary) << kSystemctl;
        fs::permissions(dir.host() / "bin" / "systemctl", fs::perms::owner_all);
        char const separator = fs::path::preferred_separator == '/' ? ':' : ';';
        char const *path = std::getenv("PATH");
        m_path = path != nullptr ? path : "";
        setVariable("PATH", (dir.host() / "none").string() + separator + (dir.host() / "bin").string() + separator +
                                m_path);
        setVariable("SHAREDLIB_SYSTEMD_UNIT_DIR", units().string());
        setVariable("SHAREDLIB_SYSTEMD_SCOPE", "system");
    }
    void TearDown() override
    {
        platform::ResetServiceControl();
        platform::TakeMessageBoxRecords();
        setVariable("PATH", m_path);
        setVariable("SHAREDLIB_SYSTEMD_UNIT_DIR", "");
        setVariable("SHAREDLIB_SYSTEMD_SCOPE", "");
        setVariable("SHAREDLIB_SYSTEMCTL", "");
        setVariable("SHAREDLIB_SERVICE_NAME", "");
    }

    static int32_t maintain(std::vector<std::string> arguments, const char *display = kDisplay)
    {
        arguments.insert(arguments.begin(), "server.exe");
        std::vector<char *> argv;
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        return ServiceManager::serviceMaintenance(static_cast<int>(arguments.size()), argv.data(), kName, display);
    }

    static bool installed(platform::ServiceEntry *entry = nullptr)
    {
        platform::ServiceEntry ignored;
        return platform::QueryServiceEntry(kName, entry != nullptr ? entry : &ignored);
    }

    // The maintenance's result, then each box it raised as "caption/icon: text".
    static std::string outcome(Strings arguments, const char *display = kDisplay)
    {
        std::string text = std::to_string(maintain(std::move(arguments), display));
        for (auto const &box : platform::TakeMessageBoxRecords())
            text += " " + box.caption +
                    (box.type == platform::MB_ICONERROR         ? "/error: "
                     : box.type == platform::MB_ICONWARNING     ? "/warning: "
                     : box.type == platform::MB_ICONINFORMATION ? "/information: "
                                                                : "/other: ") +
                    box.text;
        return text;
    }

    fs::path units() const { return dir.host() / "units"; }

    static std::string describe(std::vector<platform::ScAction> const &actions)
    {
        std::string text;
        for (auto const &action : actions)
            text += std::to_string(action.type) + "/" + std::to_string(action.delay) + " ";
        return text;
    }

    // The stand-in's calls since the last look.
    Strings takeCalls()
    {
        Strings calls;
        std::istringstream log(ReadHostFile(dir.host() / "systemctl.log"));
        for (std::string line; std::getline(log, line);)
            calls.push_back(line);
        fs::remove(dir.host() / "systemctl.log");
        return calls;
    }

    TempDirectory dir;
    std::string m_path;
};

constexpr char kUsage[] = "\nService Manager Options:\n\n"
                          " -remove    Remove this program's service entry\n\n"
                          " -install   Install this program as a service\n"
                          "    -username <name>      The account that this service will run as\n"
                          "       If no username is specified, the service will run as LocalSystem\n"
                          "    -password <password>  The password for the given account\n\n"
                          "If no options are specified, the program will run normally\n";

}  // namespace
