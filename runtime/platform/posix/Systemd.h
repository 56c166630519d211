#pragma once

// systemd as the service control manager of the POSIX backend: where a
// process installs its services, the unit file a service's configuration
// becomes, the calls to systemctl and the readiness datagrams. Internal to
// the backend.

#include <cstdint>
#include <string>
#include <vector>

#include "../ServiceControl.h"

namespace platform::systemd {

// The environment variable by which a unit names the service its program
// runs; the dispatcher connects only when it names the service it is given.
constexpr char kServiceVariable[] = "SHAREDLIB_SERVICE_NAME";

// Where this process installs services: root uses the system's manager and
// /etc/systemd/system, anyone else their own manager (systemctl --user) and
// $XDG_CONFIG_HOME/systemd/user (~/.config/systemd/user).
// SHAREDLIB_SYSTEMD_SCOPE ("system" or "user"), SHAREDLIB_SYSTEMD_UNIT_DIR
// and SHAREDLIB_SYSTEMCTL redirect them.
struct Scope {
    bool user = false;
    std::string unitDirectory;
    std::string systemctl;  // a path, or a name searched on the PATH
};
Scope CurrentScope();

// The unit file name of a service: bytes a unit name cannot hold are written
// \xNN ("Zone Server" is "Zone\x20Server.service"); "" when the name is
// empty or too long for a unit.
std::string UnitName(std::string const &serviceName);
// The service name of a unit file name; "" when it is not a service unit.
std::string ServiceName(std::string const &unitName);

// What a service's unit file says.
struct UnitConfig {
    std::string serviceName;  // the name the dispatcher answers to
    std::string description;
    std::vector<std::string> command;  // the host program and its arguments
    std::string workingDirectory;
    std::string user;                       // empty: the manager's own account
    std::vector<std::string> dependencies;  // unit names, required and started first
    bool hasFailureActions = false;
    uint32_t resetPeriod = 0;  // seconds; 0xFFFFFFFF: never
    std::vector<ScAction> failureActions;
};

// The unit file text. Only restarts can follow a failure: false when the
// failure actions ask for anything else (a reboot, a command).
bool FormatUnit(UnitConfig const &config, bool userScope, std::string &text);
// Reads a unit as FormatUnit writes it, or as systemctl cat shows it.
UnitConfig ParseUnit(std::string const &text);

// Runs systemctl (--user in the user's scope) with the arguments and returns
// its exit status, or -1 with errno set when it cannot be started. Its
// standard output goes to *output when that is given; its standard error,
// like its output otherwise, is this process's.
int Systemctl(Scope const &scope, std::vector<std::string> const &arguments, std::string *output = nullptr);

// Sends one datagram to the manager's notification socket: a path, or an
// abstract address written with a leading '@'. False when it cannot.
bool Notify(std::string const &socketAddress, std::string const &message);

}  // namespace platform::systemd
