// The windowless mode's trace files and client lines, `lintrel status`
// against running instances, `lintrel --list-ports`: the built program
// with a pseudo-terminal as COM3 and TCP peers on 127.0.0.1.
#include "pump.h"
#include "pty_pair.h"
#include "temp_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <sys/stat.h>

namespace {

// The windowless program starts slowly on a busy machine.
bool pumpUntil(const std::function<bool()>& pred, int ms = 10000)
{
    return testsupport::pumpUntil(pred, ms);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A client session on COM3 that connects to 127.0.0.1:port.
std::string clientOfPort(int port)
{
    std::ostringstream s;
    s << "[Lintrel]\r\nNumSessions=1\r\n[Session1]\r\nConnector=3\r\nBaudRate=6\r\nDatabits=3\r\n"
         "IPAddress=127.0.0.1\r\nPortNumber="
      << port << "\r\nTCPOption=0\r\nAutoActivate=1\r\n";
    return s.str();
}

class TrafficHeadless : public ::testing::Test {
protected:
    void SetUp() override
    {
        map.map(3, pty.slavePath());
        ASSERT_TRUE(peer.listen(QHostAddress::LocalHost, 0));
        file = home.file("bridge.qcf");
        std::ofstream(file, std::ios::binary) << clientOfPort(peer.serverPort());
    }
    void TearDown() override
    {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    }
    QProcessEnvironment environment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LINTREL_HOME", QString::fromStdString(home.path()));
        env.insert("LINTREL_PORT_DIR", QString::fromStdString(ports.path()));
        return env;
    }
    void start(const QStringList& args)
    {
        program.setProcessEnvironment(environment());
        program.start(LINTREL_BINARY, args);
        ASSERT_TRUE(program.waitForStarted(5000));
    }
    std::string output()
    {
        out += program.readAllStandardOutput().toStdString();
        return out;
    }
    std::string errors()
    {
        err += program.readAllStandardError().toStdString();
        return err;
    }
    // Runs the program to its end (another one beside the running one).
    std::string run(const QStringList& args, int* code = nullptr, std::string* stderrText = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(LINTREL_BINARY, args);
        EXPECT_TRUE(p.waitForStarted(5000));
        pumpUntil([&] { return p.state() == QProcess::NotRunning; }, 15000);
        if (code)
            *code = p.exitCode();
        if (stderrText)
            *stderrText = p.readAllStandardError().toStdString();
        return p.readAllStandardOutput().toStdString();
    }
    // Connected, with the peer's socket.
    QTcpSocket* bridgeUp()
    {
        if (!pumpUntil([&] { return peer.hasPendingConnections(); }))
            return nullptr;
        QTcpSocket* s = peer.nextPendingConnection();
        pumpUntil([&] { return output().find("TCP/IP Status: Connected") != std::string::npos; });
        return s;
    }
    std::string deviceReceive(std::size_t n)
    {
        std::string got;
        pumpUntil([&] {
            got += pty.receive(n - got.size(), 10);
            return got.size() >= n;
        });
        return got;
    }

    testsupport::TempDir home, ports, traces;
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    QTcpServer peer;
    QProcess program;
    std::string file, out, err;
};

TEST_F(TrafficHeadless, TracesEveryChunkRotatesAtTheBoundAndTellsClients)
{
    start({"--headless", "--no-timestamps", "--trace", QString::fromStdString(traces.path()), "--trace-size",
           "0.01", QString::fromStdString(file)});
    QTcpSocket* client = bridgeUp();
    ASSERT_TRUE(client) << output() << errors();
    const std::string who = "127.0.0.1:" + std::to_string(peer.serverPort());
    EXPECT_NE(output().find("Session1: client " + who + " connected\n"), std::string::npos) << output();

    pty.send("Hello\r\n");
    std::string got;
    pumpUntil([&] {
        got += client->readAll().toStdString();
        return got.size() >= 7;
    });
    EXPECT_EQ(got, "Hello\r\n");
    client->write(std::string("\x01\xff" "AT", 4).c_str(), 4);
    EXPECT_EQ(deviceReceive(4), std::string("\x01\xff" "AT", 4));

    const std::string trace = traces.file("session1-COM3.trace");
    ASSERT_TRUE(pumpUntil([&] { return readFile(trace).find("tcp>serial") != std::string::npos; })) << readFile(trace);
    const std::string text = readFile(trace);
    const std::regex first(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6}  serial>tcp  )" + who +
                           R"(  7 bytes\n  0000  48 65 6c 6c 6f 0d 0a {30}Hello\.\.\n)");
    EXPECT_TRUE(std::regex_search(text, first)) << text;
    EXPECT_NE(text.find("  tcp>serial  " + who + "  4 bytes\n  0000  01 ff 41 54 "), std::string::npos) << text;

    // Past the bound (10 KB) the file moves to .1 and a new one starts.
    for (int i = 0; i < 40; ++i) {
        const std::string chunk(500, char('a' + i % 26));
        client->write(chunk.data(), qint64(chunk.size()));
        deviceReceive(chunk.size());
    }
    ASSERT_TRUE(pumpUntil([&] { return QFile::exists(QString::fromStdString(trace + ".2")); })) << readFile(trace);
    struct stat st{};
    ASSERT_EQ(::stat(trace.c_str(), &st), 0);
    EXPECT_LE(st.st_size, 10 * 1024 * 1024 / 1000 + 1);
    EXPECT_EQ(readFile(trace).rfind("20", 0), 0u);   // starts with a whole record

    client->close();
    ASSERT_TRUE(pumpUntil([&] { return output().find("Session1: client " + who + " disconnected\n") != std::string::npos; }))
        << output();
}

TEST_F(TrafficHeadless, AnUnwritableTraceFolderIsOneLineAndTheBridgeGoesOn)
{
    start({"--headless", "--no-timestamps", "--trace", "/proc/lintrel-no-such/traces", QString::fromStdString(file)});
    QTcpSocket* client = bridgeUp();
    ASSERT_TRUE(client) << output() << errors();
    pty.send("x");
    std::string got;
    pumpUntil([&] {
        got += client->readAll().toStdString();
        return !got.empty();
    });
    EXPECT_EQ(got, "x");
    const std::string e = errors();
    EXPECT_NE(e.find("lintrel: trace folder /proc/lintrel-no-such/traces cannot be made; no traces are written\n"),
              std::string::npos) << e;
    EXPECT_EQ(e.find("trace folder"), e.rfind("trace folder"));   // said once
    EXPECT_EQ(e.find("trace:"), std::string::npos) << e;
}

TEST_F(TrafficHeadless, StatusAnswersWithEverySessionItsClientsAndCounters)
{
    int code = -1;
    std::string why;
    // Nothing runs yet.
    EXPECT_EQ(run({"status", "--json"}, &code, &why), "[]\n");
    EXPECT_EQ(code, 1);
    EXPECT_NE(why.find("no running Lintrel found in " + ports.path()), std::string::npos) << why;

    start({"--headless", "--no-timestamps", QString::fromStdString(file)});
    QTcpSocket* client = bridgeUp();
    ASSERT_TRUE(client) << output() << errors();
    pty.send("0123456789");
    std::string got;
    pumpUntil([&] {
        got += client->readAll().toStdString();
        return got.size() >= 10;
    });
    client->write("abc");
    EXPECT_EQ(deviceReceive(3), "abc");

    const std::string json = run({"status", "--json"}, &code);
    EXPECT_EQ(code, 0) << json;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    ASSERT_TRUE(doc.isArray()) << json;
    ASSERT_EQ(doc.array().size(), 1);
    const QJsonObject me = doc.array()[0].toObject();
    EXPECT_EQ(me["pid"].toInteger(), program.processId());
    EXPECT_EQ(me["mode"].toString(), "headless");
    EXPECT_EQ(me["file"].toString().toStdString(), file);
    const QJsonArray sessions = me["sessions"].toArray();
    ASSERT_EQ(sessions.size(), 1);
    const QJsonObject s = sessions[0].toObject();
    EXPECT_TRUE(s["active"].toBool());
    EXPECT_EQ(s["port"].toString(), "COM3");
    EXPECT_EQ(s["device"].toString().toStdString(), pty.slavePath());
    EXPECT_EQ(s["role"].toString(), "client");
    EXPECT_EQ(s["tcpPort"].toInt(), peer.serverPort());
    EXPECT_EQ(s["tcpStatus"].toString(), "TCP/IP Status: Connected");
    const QJsonObject c = s["counters"].toObject();
    EXPECT_EQ(c["serialIn"].toInteger(), 10);
    EXPECT_EQ(c["tcpOut"].toInteger(), 10);
    EXPECT_EQ(c["tcpIn"].toInteger(), 3);
    EXPECT_EQ(c["serialOut"].toInteger(), 3);
    EXPECT_EQ(c["opened"].toInteger(), 1);
    const QJsonArray clients = s["clients"].toArray();
    ASSERT_EQ(clients.size(), 1);
    EXPECT_EQ(clients[0].toObject()["port"].toInt(), peer.serverPort());
    EXPECT_EQ(clients[0].toObject()["bytesIn"].toInteger(), 3);

    const std::string text = run({"status"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(text.find("Session1  active  COM3 (" + pty.slavePath() + ")  client of 127.0.0.1:" +
                        std::to_string(peer.serverPort())), std::string::npos) << text;
    EXPECT_NE(text.find("client 127.0.0.1:" + std::to_string(peer.serverPort())), std::string::npos) << text;

    // A second instance is asked as well.
    QProcess second;
    second.setProcessEnvironment(environment());
    const std::string idle = home.file("idle.qcf");
    std::ofstream(idle, std::ios::binary) << "[Lintrel]\r\nNumSessions=1\r\n";
    second.start(LINTREL_BINARY, {"--headless", QString::fromStdString(idle)});
    ASSERT_TRUE(second.waitForStarted(5000));
    QDir folder(QString::fromStdString(ports.path()));
    ASSERT_TRUE(pumpUntil([&] { return folder.entryList({"lintrel.*.sock"}, QDir::System).size() == 2; }));
    const QJsonDocument both = QJsonDocument::fromJson(QByteArray::fromStdString(run({"status", "--json"})));
    EXPECT_EQ(both.array().size(), 2);
    second.terminate();
    second.waitForFinished(5000);
    // Its socket goes with it.
    EXPECT_EQ(folder.entryList({"lintrel.*.sock"}, QDir::System).size(), 1);
    EXPECT_EQ(run({"status", "--bogus"}, &code), "");
    EXPECT_EQ(code, 2);
}

TEST_F(TrafficHeadless, ListPortsPrintsTheDevicesAndTheComNames)
{
    int code = -1;
    const std::string text = run({"--list-ports"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(text.rfind("Serial devices (", 0), 0u) << text;
    EXPECT_NE(text.find("COM names mapped or virtual"), std::string::npos) << text;
    EXPECT_NE(text.find("COM3  " + pty.slavePath()), std::string::npos) << text;
}

}  // namespace
