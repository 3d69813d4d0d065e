// Throughput and added latency through one session, between a
// pseudo-terminal "device" on COM3 and a TCP client on 127.0.0.1, in both
// directions; then the same through socat bridging the same pseudo-terminal
// to TCP, for comparison.  Prints one line per measurement and the ratios.
//
// Usage: session_bench [megabytes] [round trips]
#include "global_options.h"
#include "pty_pair.h"
#include "session.h"
#include "temp_dir.h"
#include "winsock/socket_control.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

using Clock = std::chrono::steady_clock;

namespace {

int connectLoopback(int port)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return -1;
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool writeAll(int fd, const char* p, std::size_t n)
{
    while (n) {
        const ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= std::size_t(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd pf{fd, POLLOUT, 0};
        ::poll(&pf, 1, 100);
    }
    return true;
}

// Reads n bytes (discarding them) within ms; false on time-out.
bool readCount(int fd, std::size_t n, int ms)
{
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    char buf[65536];
    while (n) {
        pollfd pf{fd, POLLIN, 0};
        if (::poll(&pf, 1, 50) > 0) {
            const ssize_t r = ::read(fd, buf, std::min(sizeof buf, n));
            if (r > 0)
                n -= std::size_t(r);
            else if (r == 0)
                return false;
        }
        if (Clock::now() > until)
            return false;
    }
    return true;
}

struct Figures {
    double toTcpMBps = 0, toDeviceMBps = 0, toTcpMs = 0, toDeviceMs = 0;
};

// Runs the four measurements between the device end (pty master) and a
// TCP client fd, on a worker thread, while keepAlive runs the owner's loop.
Figures measure(int device, int client, std::size_t bytes, int trips,
                const std::function<void(const std::atomic<bool>&)>& loop)
{
    Figures f;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        const std::string block(65536, 'x');
        auto throughput = [&](int from, int to) {
            const auto t0 = Clock::now();
            std::thread reader([&] { readCount(to, bytes, 120000); });
            for (std::size_t sent = 0; sent < bytes; sent += block.size())
                writeAll(from, block.data(), std::min(block.size(), bytes - sent));
            reader.join();
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            return double(bytes) / s / 1e6;
        };
        auto latency = [&](int from, int to) {
            double total = 0;
            for (int i = 0; i < trips; ++i) {
                const auto t0 = Clock::now();
                writeAll(from, "p", 1);
                readCount(to, 1, 5000);
                total += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            }
            return total / trips;
        };
        f.toTcpMBps = throughput(device, client);
        f.toDeviceMBps = throughput(client, device);
        f.toTcpMs = latency(device, client);
        f.toDeviceMs = latency(client, device);
        done = true;
    });
    loop(done);
    worker.join();
    return f;
}

void print(const char* who, const Figures& f)
{
    std::printf("%-8s device->TCP %8.2f MB/s  TCP->device %8.2f MB/s  latency device->TCP %7.2f ms  "
                "TCP->device %7.2f ms\n",
                who, f.toTcpMBps, f.toDeviceMBps, f.toTcpMs, f.toDeviceMs);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t bytes = std::size_t(argc > 1 ? std::atof(argv[1]) : 8) * 1000000;
    const int trips = argc > 2 ? std::atoi(argv[2]) : 50;

    testsupport::TempDir home;
    ::setenv("LINTREL_HOME", home.path().c_str(), 1);
    ::setenv("LINTREL_PORT_DIR", home.path().c_str(), 1);
    const std::string map = home.file("ports.ini");

    Figures lintrel, socat;
    {
        testsupport::PtyPair pty;
        std::FILE* m = std::fopen(map.c_str(), "w");
        std::fprintf(m, "[Ports]\r\nCOM3=%s\r\n", pty.slavePath().c_str());
        std::fclose(m);
        ::setenv("LINTREL_PORTS", map.c_str(), 1);

        lintrel::Session s;
        s.Combo2.select("COM3");
        s.Combo1[0].select("115200");
        s.Combo1[5].select("524288");
        s.TCPOption_Click(1);
        s.LocalIP.items.push_back("127.0.0.1");
        s.LocalIP.select("127.0.0.1");
        s.PortNumber.text = "0";
        s.Command1_Click();
        const int port = s.Winsock1(0).localPort;
        int client = -1;
        std::thread connector([&] { client = connectLoopback(port); });
        while (s.ClientCount == 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        connector.join();
        lintrel = measure(pty.master(), client, bytes, trips, [](const std::atomic<bool>& done) {
            while (!done)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        });
        ::close(client);
        s.Command1_Click();
    }
    {
        testsupport::PtyPair pty;
        const int port = freePort();
        const pid_t pid = ::fork();
        if (pid == 0) {
            const std::string tcp = "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr";
            const std::string dev = pty.slavePath() + ",raw,echo=0";
            ::execlp("socat", "socat", "-b", "65536", dev.c_str(), tcp.c_str(), nullptr);
            std::_Exit(127);
        }
        const int client = connectLoopback(port);
        if (client < 0) {
            std::printf("socat did not start; is it installed?\n");
        } else {
            socat = measure(pty.master(), client, bytes, trips, [](const std::atomic<bool>& done) {
                while (!done)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            });
            ::close(client);
        }
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    std::printf("%zu bytes each way, %d one-byte round trips each way\n", bytes, trips);
    print("lintrel", lintrel);
    print("socat", socat);
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("ratio lintrel/socat: throughput %.2f / %.2f, latency %.1f / %.1f\n",
                ratio(lintrel.toTcpMBps, socat.toTcpMBps), ratio(lintrel.toDeviceMBps, socat.toDeviceMBps),
                ratio(lintrel.toTcpMs, socat.toTcpMs), ratio(lintrel.toDeviceMs, socat.toDeviceMs));
    return 0;
}
