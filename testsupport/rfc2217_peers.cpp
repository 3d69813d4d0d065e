#include "rfc2217_peers.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

// Whether something listens on 127.0.0.1:port, from the kernel's table
// (a probing connection would be a client to the server).
bool listening(int port)
{
    std::ifstream f("/proc/net/tcp");
    std::string line;
    char want[32];
    std::snprintf(want, sizeof want, "0100007F:%04X", port);
    while (std::getline(f, line)) {
        std::istringstream in(line);
        std::string slot, local, remote, state;
        in >> slot >> local >> remote >> state;
        if (local == want && state == "0A")
            return true;
    }
    return false;
}

}  // namespace

Rfc2217Peer::Rfc2217Peer(Kind kind, const std::string& device) : m_kind(kind)
{
    m_port = freePort();
    std::vector<std::string> args;
    if (kind == Kind::Ser2net) {
        if (::access("/usr/sbin/ser2net", X_OK) != 0) {
            m_missing = "ser2net is not installed";
            return;
        }
        const std::string conf = m_dir.file("ser2net.yaml");
        std::ofstream(conf) << "connection: &c1\n"
                            << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << m_port << "\n"
                            << "  connector: serialdev," << device << ",9600n81,local\n"
                            << "  options:\n    kickolduser: true\n";
        args = {"/usr/sbin/ser2net", "-n", "-d", "-c", conf, "-P", m_dir.file("pid")};
    } else {
        if (::access("/usr/bin/python3", X_OK) != 0) {
            m_missing = "python3 is not installed";
            return;
        }
        args = {"/usr/bin/python3", LT_TESTSUPPORT_DIR "/rfc2217_pty_server.py", device, std::to_string(m_port)};
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, m_dir.file("stderr").c_str(), O_WRONLY | O_CREAT, 0600);
    // ser2net is not built with our sanitizers: the runtime a sanitized test
    // run preloads for such programs keeps it from starting at all.
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        if (kind != Kind::Ser2net || std::strncmp(*e, "LD_PRELOAD=", 11) != 0)
            env.push_back(*e);
    env.push_back(nullptr);
    const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(m_ok = listening(m_port)) && std::chrono::steady_clock::now() < until) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

Rfc2217Peer::~Rfc2217Peer()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
}

}  // namespace testsupport
