// Asking a running Lintrel how it is: every session with its state, port,
// clients and counters, as JSON through the program's control socket, and
// `lintrel status [--json]` that asks every instance of this user (and the
// services in /run/lintrel) and prints the answers.
#pragma once

#include "session_workspace.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace lt::control { class RequestServer; }

namespace lintrel {

// This program's state as one JSON object:
// {"program":"lintrel","version":..,"pid":..,"mode":"window"|"headless",
//  "file":..,"sessions":[{"number":1,"caption":..,"active":..,"port":"COM3",
//  "device":..,"virtual":..,"role":"server"|"client","host":..,"tcpPort":..,
//  "serialStatus":..,"tcpStatus":..,"counters":{..},"clients":[{..}]}]}
std::string statusJson(SessionWorkspace& w, const std::string& mode, const std::string& file);

// The same for people, from one such object; empty when the text is not one.
std::string statusText(const std::string& json);

// Where this program's control socket goes: <port folder>/lintrel.<pid>.sock.
std::string controlSocketPath();
// Where `lintrel status` looks: the port folder, then /run/lintrel (the
// services), without repeats.
std::vector<std::string> controlFolders();

// The control socket of a running program: answers "status" with
// statusJson; nothing else.
class ControlChannel {
public:
    ControlChannel(SessionWorkspace& w, std::string mode, std::string file);
    ~ControlChannel();
    // Listens at controlSocketPath(); the reason when it cannot.
    std::string start();
    std::string path() const;

private:
    SessionWorkspace& m_workspace;
    std::string m_mode, m_file;
    std::unique_ptr<lt::control::RequestServer> m_server;
};

// `lintrel status [--json]`: 0 when at least one instance answered, 1 when
// none runs.
int runStatus(bool json, std::ostream& out, std::ostream& err);

}  // namespace lintrel
