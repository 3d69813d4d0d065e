// The engine's Kermit against C-Kermit and G-Kermit over a socat
// pseudo-terminal pair, both ways, files compared by hash; names from the
// far end that try to leave the transfer folder or replace a file.
#include "line_fixture.h"
#include "transfer_engine.h"
#include "xymodem.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>

using namespace xfertest;

namespace {

std::string lastMessage(QcHandle o)
{
    char text[200] = {};
    GetTransferMessage(o, text, sizeof text);
    return text;
}

// A Kermit program at the far end, bounded in time and killed with the test.
class KermitPeer {
public:
    // C-Kermit opens the line itself; G-Kermit talks on its standard input
    // and output, so those go to the line.
    KermitPeer(const QStringList& command, const std::string& cwd, const std::string& stdioTty = {})
    {
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.setWorkingDirectory(QString::fromStdString(cwd));
        if (stdioTty.empty()) {
            m_process.setStandardInputFile(QProcess::nullDevice());
            m_process.setStandardOutputFile(QString::fromStdString(cwd + "/peer.log"));
        } else {
            m_process.setStandardInputFile(QString::fromStdString(stdioTty));
            m_process.setStandardOutputFile(QString::fromStdString(stdioTty));
        }
        m_process.setStandardErrorFile(QString::fromStdString(cwd + "/peer.err"));
        m_log = cwd + "/peer.err";
        m_process.start(command.front(), command.mid(1));
        m_process.waitForStarted(5000);
    }
    ~KermitPeer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    bool finish(int ms)
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(ms)) {
            m_process.kill();
            m_process.waitForFinished(2000);
            return false;
        }
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    std::string log() const
    {
        return "exit " + std::to_string(m_process.exitCode()) + ": " + readFile(m_log);
    }

private:
    QProcess m_process;
    std::string m_log;
};

QStringList ckermit(const std::string& line, const std::string& action)
{
    return {"kermit", "-Y", "-q", "-l", QString::fromStdString(line), "-b", "115200", "-C",
            QString::fromStdString("set carrier-watch off, set flow none, set file names literal, "
                                   "set file type binary, set transfer mode manual, set file patterns off, "
                                   + action + ", exit")};
}

class KermitInterop : public TransferTest {
protected:
    // Runs the thread's event loop until the transfer is over: the transfer
    // thread's reports are taken at once, not on a polling sleep.
    bool runToEnd(QcHandle o, int ms)
    {
        QEventLoop loop;
        QTimer check, limit;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (GetTransferType(o) == 0)
                loop.quit();
        });
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        check.start(20);
        limit.setSingleShot(true);
        limit.start(ms);
        if (GetTransferType(o) != 0)
            loop.exec();
        return GetTransferType(o) == 0;
    }

    QcHandle kermitObject(const std::string& path, int com)
    {
        QcHandle o = openObject(path, com);
        SetProtocol(o, xfer::Protocol_Kermit);
        return o;
    }

    // Source files of the given sizes in the folder, by name.
    std::vector<std::pair<std::string, std::string>> makeFiles(const std::string& folder,
                                                               const std::vector<std::size_t>& sizes)
    {
        std::vector<std::pair<std::string, std::string>> files;
        for (std::size_t size : sizes) {
            files.emplace_back("k" + std::to_string(size), randomData(size, unsigned(size) * 3 + 1));
            writeFile(folder + "/" + files.back().first, files.back().second);
        }
        return files;
    }

    void expectFiles(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& files)
    {
        for (const auto& [name, data] : files)
            EXPECT_EQ(sha256(readFile(folder + "/" + name)), sha256(data)) << name;
    }

    std::string folder(const std::string& name)
    {
        const std::string f = m_dir.file(name);
        ::mkdir(f.c_str(), 0700);
        return f;
    }
};

const std::vector<std::size_t> kSizes = {0, 1, 1024, 1025};
constexpr std::size_t kBig = 1 << 20;

// Our sender, one transfer with every file queued; the peer receives them.
void sendBatch(QcHandle o, const std::string& from,
               const std::vector<std::pair<std::string, std::string>>& files)
{
    for (const auto& f : files)
        ASSERT_EQ(Upload(o, (from + "/" + f.first).c_str()), 1);
}

TEST_F(KermitInterop, SendsBatchToGkermit)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = kermitObject(line.nearPath(), 41);
    const std::string from = folder("from"), into = folder("into");
    const auto files = makeFiles(from, kSizes);
    KermitPeer peer({"gkermit", "-q", "-P", "-i", "-r"}, into, line.farPath());
    pumpUntil([] { return false; }, 1000);  // listening before our S goes out
    sendBatch(o, from, files);
    ASSERT_TRUE(runToEnd(o, 60000));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    expectFiles(into, files);
}

TEST_F(KermitInterop, ReceivesBatchFromGkermit)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = kermitObject(line.nearPath(), 42);
    const std::string from = folder("from"), into = folder("into");
    const auto files = makeFiles(from, kSizes);
    SetXferPath(o, into.c_str());
    ASSERT_EQ(Download(o, nullptr), 1);
    QStringList command{"gkermit", "-q", "-P", "-i", "-s"};
    for (const auto& f : files)
        command << QString::fromStdString(f.first);
    KermitPeer peer(command, from, line.farPath());
    ASSERT_TRUE(runToEnd(o, 60000));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    expectFiles(into, files);
}

TEST_F(KermitInterop, SendsBatchToCkermit)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = kermitObject(line.nearPath(), 43);
    const std::string from = folder("from"), into = folder("into");
    const auto files = makeFiles(from, kSizes);
    KermitPeer peer(ckermit(line.farPath(), "receive"), into);
    pumpUntil([] { return false; }, 1000);
    sendBatch(o, from, files);
    ASSERT_TRUE(runToEnd(o, 60000));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    expectFiles(into, files);
}

TEST_F(KermitInterop, ReceivesBatchFromCkermit)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = kermitObject(line.nearPath(), 44);
    const std::string from = folder("from"), into = folder("into");
    const auto files = makeFiles(from, kSizes);
    SetXferPath(o, into.c_str());
    ASSERT_EQ(Download(o, nullptr), 1);
    std::string names;
    for (const auto& f : files)
        names += " " + f.first;
    KermitPeer peer(ckermit(line.farPath(), "msend" + names), from);
    ASSERT_TRUE(runToEnd(o, 60000));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    expectFiles(into, files);
}

// A megabyte each way, with a different peer each way.
TEST_F(KermitInterop, MegabyteToGkermitAndFromCkermit)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = kermitObject(line.nearPath(), 45);
    const std::string from = folder("from"), into = folder("into"), back = folder("back");
    const auto files = makeFiles(from, {kBig});
    {
        KermitPeer peer({"gkermit", "-q", "-P", "-i", "-r"}, into, line.farPath());
        pumpUntil([] { return false; }, 1000);
        sendBatch(o, from, files);
        ASSERT_TRUE(runToEnd(o, 120000));
        EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
        EXPECT_EQ(GetTransferBytesTransferred(o), std::int32_t(kBig));
        EXPECT_TRUE(peer.finish(20000)) << peer.log();
        expectFiles(into, files);
    }
    SetXferPath(o, back.c_str());
    ASSERT_EQ(Download(o, nullptr), 1);
    KermitPeer peer(ckermit(line.farPath(), "send " + files[0].first), from);
    ASSERT_TRUE(runToEnd(o, 120000));
    EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
    EXPECT_TRUE(peer.finish(20000)) << peer.log();
    expectFiles(back, files);
}

// Names the far end gives: the last component only, inside the transfer
// folder, never over a file already there, "UNTITLED.nnn" for "..".
TEST_F(KermitInterop, ReceivedNamesStayInTheFolderAndKeepFiles)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = kermitObject(line.nearPath(), 46);
    const std::string from = folder("from"), into = folder("into");
    writeFile(into + "/keep", "precious");
    struct Case {
        const char* asName;
        const char* expected;
    };
    const Case cases[] = {{"../outside", "outside"}, {"/tmp/a/../outside", "outside.1"},
                          {"keep", "keep.1"},        {"..", "UNTITLED.000"}};
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asName);
        const std::string data = randomData(300, unsigned(++i));
        writeFile(from + "/src", data);
        SetXferPath(o, into.c_str());
        ASSERT_EQ(Download(o, nullptr), 1);
        KermitPeer peer({"gkermit", "-q", "-P", "-i", "-s", "src", "-a", c.asName}, from, line.farPath());
        ASSERT_TRUE(runToEnd(o, 30000));
        EXPECT_EQ(GetTransferStatus(o), 0) << lastMessage(o);
        EXPECT_TRUE(peer.finish(20000)) << peer.log();
        EXPECT_EQ(sha256(readFile(into + "/" + c.expected)), sha256(data));
    }
    EXPECT_EQ(readFile(into + "/keep"), "precious");
    struct stat st;
    EXPECT_NE(::stat(m_dir.file("outside").c_str(), &st), 0);
}

// The receiver goes away mid-file: our sender ends with a failure once the
// line stays quiet, neither hanging nor reporting success.
TEST_F(KermitInterop, PeerGoneMidFileFailsTheTransfer)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle o = kermitObject(line.nearPath(), 47);
    const std::string from = folder("from"), into = folder("into");
    writeFile(from + "/big", randomData(200000, 5));
    auto peer = std::make_unique<KermitPeer>(QStringList{"gkermit", "-q", "-P", "-i", "-r"}, into, line.farPath());
    pumpUntil([] { return false; }, 1000);
    ASSERT_EQ(Upload(o, (from + "/big").c_str()), 1);
    ASSERT_TRUE(pumpUntil([&] { return GetTransferBytesTransferred(o) > 10000; }, 30000));
    peer.reset();
    ASSERT_TRUE(runToEnd(o, 60000));
    EXPECT_EQ(GetTransferStatus(o), -1);
    EXPECT_LT(GetTransferBytesTransferred(o), 200000);
}

}  // namespace
