// The configuration file through real files: what loading makes of each
// key, what saving writes, and that the two agree byte for byte.
#include "config_check.h"
#include "config_file.h"
#include "global_options.h"
#include "headless.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace lintrel;

namespace {

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Lines joined with CR LF, as the profile functions write them.
std::string crlf(std::initializer_list<std::string> lines)
{
    std::string s;
    for (const std::string& l : lines)
        s += l + "\r\n";
    return s;
}

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("LINTREL_REGISTRY_DIR", dir.file("registry").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
        GlobalOptions = {};
        IoOptionTransfer = {};
    }
    std::ostringstream out, err;
    HeadlessRunner runner{out, err};
    testsupport::TempDir dir;
    std::string path = dir.file("test.qcf");
};

}  // namespace

TEST_F(ConfigFile, SavingWhatWasLoadedRewritesTheSameBytes)
{
    // The address this host reports, so the local address list holds it.
    const std::string host = runner.NewSession().LocalIP.text();
    const std::string original = crlf({
        "[Lintrel]", "NumSessions=2", "WindowState=2", "OnErrorRunApp=/usr/bin/logger error",
        "LogErrors=1", "LoadWithWindows=0", "PingEnabled=1", "PingFrequency=3", "PingTimeout=4",
        "PacketSize=512", "Password=Secret",
        "[Session1]", "Connector=3", "BaudRate=12", "Parity=2", "Databits=1", "Stopbits=2",
        "FlowControl=2", "BufferSize=8", "CreateVirtualPort=0", "BufferSerialData=1",
        "LocalIP=" + host, "IPAddress=device.example", "PortNumber=4001", "TCPOption=0",
        "AutoActivate=0", "WaitForCr=1", "TimeoutValue=75", "AllowMultiConnect=1",
        "ServerSerialOptions=0", "ServerTCPOptions=0", "ClientOptions=2", "ConnectOnVirtualOpen=0",
        "[Session2]", "Connector=5", "BaudRate=6", "Parity=0", "Databits=3", "Stopbits=0",
        "FlowControl=0", "BufferSize=2", "CreateVirtualPort=1", "BufferSerialData=0",
        "LocalIP=" + host, "IPAddress=", "PortNumber=7000", "TCPOption=1", "AutoActivate=0",
        "WaitForCr=0", "TimeoutValue=150", "AllowMultiConnect=0", "ServerSerialOptions=2",
        "ServerTCPOptions=1", "ClientOptions=0", "ConnectOnVirtualOpen=1"});
    writeFile(path, original);

    getprofilesettings(runner, path);
    ASSERT_EQ(runner.sessionCount(), 2u);
    EXPECT_EQ(runner.windowState(), kStateMaximized);
    EXPECT_EQ(GlobalOptions.Password, "Secret");
    EXPECT_EQ(GlobalOptions.PacketSize, 512);
    Session& s1 = runner.session(0);
    EXPECT_EQ(s1.Combo2.text(), "COM3");
    EXPECT_EQ(s1.Combo1[0].text(), "115200");
    EXPECT_EQ(s1.Combo1[5].text(), "524288");
    EXPECT_EQ(s1.ClientOptions, 2);
    EXPECT_EQ(s1.ConnectOnVirtualOpen, 0);
    Session& s2 = runner.session(1);
    EXPECT_TRUE(s2.TCPOption[1].value);
    EXPECT_TRUE(s2.chkVPort.checked);
    EXPECT_EQ(s2.ServerSerialOptions, 2);

    writeprofilesettings(runner, path);
    EXPECT_EQ(readFile(path), original);
}

// Low latency is a key of its own after the others: a file without it loads
// as off and is written back unchanged; on, it is written after the rest.
TEST_F(ConfigFile, LowLatencyIsOffWithoutItsKeyAndWrittenAfterTheOthers)
{
    writeFile(path, crlf({"[Lintrel]", "NumSessions=2", "[Session1]", "PortNumber=1", "[Session2]",
                          "PortNumber=2", "LowLatency=1"}));
    getprofilesettings(runner, path);
    ASSERT_EQ(runner.sessionCount(), 2u);
    EXPECT_FALSE(runner.session(0).LowLatency.checked);
    EXPECT_TRUE(runner.session(1).LowLatency.checked);
    runner.session(0).LowLatency.checked = true;
    runner.session(1).LowLatency.checked = false;
    writeprofilesettings(runner, path);
    const std::string saved = readFile(path);
    EXPECT_NE(saved.find("ConnectOnVirtualOpen=1\r\nLowLatency=1\r\n[Session2]"), std::string::npos) << saved;
    EXPECT_NE(saved.find("LowLatency=0\r\n"), std::string::npos) << "a key the file had is kept";
    getprofilesettings(runner, path);
    EXPECT_TRUE(runner.session(0).LowLatency.checked);
    EXPECT_FALSE(runner.session(1).LowLatency.checked);
}

// RFC 2217 likewise: off without its key, written after the others when
// on or when the file already had it.
TEST_F(ConfigFile, Rfc2217IsOffWithoutItsKeyAndWrittenAfterTheOthers)
{
    writeFile(path, crlf({"[Lintrel]", "NumSessions=2", "[Session1]", "PortNumber=1", "[Session2]",
                          "PortNumber=2", "Rfc2217=1"}));
    getprofilesettings(runner, path);
    ASSERT_EQ(runner.sessionCount(), 2u);
    EXPECT_FALSE(runner.session(0).Rfc2217.checked);
    EXPECT_TRUE(runner.session(1).Rfc2217.checked);
    runner.session(0).Rfc2217.checked = true;
    runner.session(0).LowLatency.checked = true;
    runner.session(1).Rfc2217.checked = false;
    writeprofilesettings(runner, path);
    const std::string saved = readFile(path);
    EXPECT_NE(saved.find("ConnectOnVirtualOpen=1\r\nLowLatency=1\r\nRfc2217=1\r\n[Session2]"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Rfc2217=0\r\n"), std::string::npos) << "a key the file had is kept";
    getprofilesettings(runner, path);
    EXPECT_TRUE(runner.session(0).Rfc2217.checked);
    EXPECT_FALSE(runner.session(1).Rfc2217.checked);
}

// The allow-list and TLS keys follow the others, each only when set or
// already in the file; paths and lists are read whole, beyond the 199
// characters of other text keys, since a cut one would name another file
// or range.
TEST_F(ConfigFile, SecurityKeysAreWrittenWhenSetAndReadWhole)
{
    const std::string longList = [] {
        std::string list;
        for (int i = 1; i <= 40; ++i)
            list += (list.empty() ? "" : ", ") + std::string("10.0.") + std::to_string(i) + ".0/24";
        return list;
    }();
    ASSERT_GT(longList.size(), 199u);
    const std::string longPath = "/etc/lintrel/" + std::string(220, 'c') + "/server.pem";
    writeFile(path, crlf({"[Lintrel]", "NumSessions=2", "[Session1]", "PortNumber=1", "[Session2]", "PortNumber=2",
                          "AllowedClients=" + longList, "Tls=1", "TlsCertificate=" + longPath,
                          "TlsKey=/etc/lintrel/server.key", "TlsCaFile=", "TlsRequireClientCertificate=1"}));
    getprofilesettings(runner, path);
    ASSERT_EQ(runner.sessionCount(), 2u);
    const SecurityFields& plain = runner.session(0).Security;
    EXPECT_EQ(plain.AllowedClients.text, "");
    EXPECT_FALSE(plain.Tls.checked);
    const SecurityFields& secure = runner.session(1).Security;
    EXPECT_EQ(secure.AllowedClients.text, longList);
    EXPECT_TRUE(secure.Tls.checked);
    EXPECT_EQ(secure.TlsCertificate.text, longPath);
    EXPECT_EQ(secure.TlsKey.text, "/etc/lintrel/server.key");
    EXPECT_TRUE(secure.TlsRequireClientCertificate.checked);
    writeprofilesettings(runner, path);
    const std::string saved = readFile(path);
    EXPECT_NE(saved.find("PortNumber=1\r\nConnector="), std::string::npos) << "nothing added to Session1";
    EXPECT_NE(saved.find("\r\nAllowedClients=" + longList + "\r\nTls=1\r\nTlsCertificate=" + longPath +
                         "\r\nTlsKey=/etc/lintrel/server.key\r\nTlsCaFile=\r\nTlsRequireClientCertificate=1\r\n"),
              std::string::npos)
        << saved;
    EXPECT_EQ(saved.find("AllowedClients="), saved.rfind("AllowedClients="));

    SecurityFields& f = runner.session(0).Security;
    f.AllowedClients.text = "192.168.1.0/24";
    f.Tls.checked = true;
    f.TlsCaFile.text = "/etc/ssl/ca.pem";
    writeprofilesettings(runner, path);
    EXPECT_NE(readFile(path).find("ConnectOnVirtualOpen=1\r\nAllowedClients=192.168.1.0/24\r\nTls=1\r\n"
                                  "TlsCaFile=/etc/ssl/ca.pem\r\n[Session2]"),
              std::string::npos)
        << readFile(path);
}

TEST_F(ConfigFile, CheckReportsTlsFilesAndListsThatWillNotWork)
{
    const std::string cert = dir.file("server.pem");
    const std::string key = dir.file("server.key");
    writeFile(cert, "-----BEGIN CERTIFICATE-----\nnot really\n-----END CERTIFICATE-----\n");
    writeFile(key, "");
    writeFile(path, crlf({"[Lintrel]", "NumSessions=3", "[Session1]", "Connector=0", "PortNumber=7001", "TCPOption=1",
                          "AllowedClients=10.0.0.0/8, example.org", "[Session2]", "Connector=0", "PortNumber=7002",
                          "TCPOption=1", "Tls=1", "TlsCertificate=" + cert, "TlsKey=" + key, "[Session3]",
                          "Connector=0", "PortNumber=7003", "TCPOption=1", "Tls=1", "TlsCertificate=" + dir.file("gone.pem"),
                          "TlsKey=" + key}));
    std::ostringstream report;
    EXPECT_EQ(checkConfigFile(path, report), 3) << report.str();
    const std::string text = report.str();
    for (const std::string& line : {
             path + ":3: [Session1] AllowedClients: \"example.org\" is not an IP address or range\n",
             path + ":8: [Session2] TLS certificate " + cert + " holds no PEM certificate\n",
             path + ":15: [Session3] TLS certificate " + dir.file("gone.pem") + " does not exist\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
}

TEST_F(ConfigFile, MissingFileGivesOneNewSessionAndTheGlobalDefaults)
{
    GlobalOptions.Password = "old";
    GlobalOptions.PacketSize = 10;
    runner.NewSession();
    runner.NewSession();
    getprofilesettings(runner, dir.file("absent.qcf"));
    ASSERT_EQ(runner.sessionCount(), 1u);
    const Session& s = runner.session(0);
    EXPECT_EQ(s.Caption, kNewCaption);
    EXPECT_EQ(s.PortNumber.text, "1000");   // a new session, untouched by loading
    EXPECT_EQ(s.Combo1[0].text(), "9600");
    EXPECT_EQ(GlobalOptions.PacketSize, 2000);
    EXPECT_EQ(GlobalOptions.PingFrequency, 1);
    EXPECT_EQ(GlobalOptions.PingTimeout, 9);
    EXPECT_EQ(GlobalOptions.Password, "");
    EXPECT_EQ(runner.windowState(), kStateNormal);
}

TEST_F(ConfigFile, ASessionWithoutItsSectionTakesTheFileDefaults)
{
    writeFile(path, "[Lintrel]\r\nNumSessions=2\r\n[Session1]\r\nConnector=4\r\nPortNumber=23\r\n");
    getprofilesettings(runner, path);
    ASSERT_EQ(runner.sessionCount(), 2u);
    EXPECT_EQ(runner.session(0).Combo2.text(), "COM4");
    const Session& s = runner.session(1);
    EXPECT_EQ(s.Combo2.index, 0);
    EXPECT_EQ(s.Combo1[0].index, 0);   // a missing BaudRate is position 0
    EXPECT_EQ(s.Combo1[5].text(), "8192");
    EXPECT_EQ(s.txtTimeoutValue.text, "150");
    EXPECT_EQ(s.PortNumber.text, "");
    EXPECT_TRUE(s.TCPOption[0].value);
    EXPECT_EQ(s.AllowMultiConnect, 1);
    EXPECT_EQ(s.ConnectOnVirtualOpen, 1);
}

TEST_F(ConfigFile, RoleAndAutoActivationValues)
{
    writeFile(path, crlf({"[Lintrel]", "NumSessions=3", "[Session1]", "TCPOption=2",
                          "AutoActivate=2", "[Session2]", "TCPOption=0", "AutoActivate=1",
                          "[Session3]", "TCPOption=1", "AutoActivate=-1"}));
    getprofilesettings(runner, path);
    ASSERT_EQ(runner.sessionCount(), 3u);
    const Session& s1 = runner.session(0);
    EXPECT_TRUE(s1.TCPOption[1].value);
    EXPECT_FALSE(s1.TCPOption[0].value);
    EXPECT_TRUE(s1.LocalIP.visible);
    EXPECT_FALSE(s1.IPAddress.visible);
    EXPECT_EQ(s1.lblHost.text, "Local IP Address");
    EXPECT_EQ(s1.lblPort.text, "Local Port");
    EXPECT_EQ(runner.session(1).lblHost.text, "Remote Host IP Address");
    EXPECT_EQ(runner.AutoActivateFlags, (std::vector<std::int16_t>{0, 0, 1, 0, 0}));
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_FALSE(runner.session(i).isActive());   // loading activates nothing
}

TEST_F(ConfigFile, TimeoutWithAFractionIsWrittenAsItStandsAndReadAsAnInteger)
{
    Session& s = runner.NewSession();
    s.txtTimeoutValue.text = "150.7";
    writeprofilesettings(runner, path);
    EXPECT_NE(readFile(path).find("\r\nTimeoutValue=150.7\r\n"), std::string::npos);
    getprofilesettings(runner, path);
    EXPECT_EQ(runner.session(0).txtTimeoutValue.text, "150");

    EXPECT_EQ(plainNumber(0), "0");
    EXPECT_EQ(plainNumber(2000), "2000");
    EXPECT_EQ(plainNumber(-2.5), "-2.5");
}

TEST_F(ConfigFile, SavingFewerSessionsLeavesTheLaterSections)
{
    for (int i = 0; i < 5; ++i)
        runner.NewSession().PortNumber.text = std::to_string(5000 + i);
    writeprofilesettings(runner, path);
    runner.closeAllSessions();
    for (int i = 0; i < 3; ++i)
        runner.NewSession();
    writeprofilesettings(runner, path);

    const std::string text = readFile(path);
    EXPECT_NE(text.find("NumSessions=3\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Session5]\r\n"), std::string::npos);
    EXPECT_NE(text.find("PortNumber=5004\r\n"), std::string::npos);
    getprofilesettings(runner, path);
    EXPECT_EQ(runner.sessionCount(), 3u);
    EXPECT_EQ(runner.session(2).PortNumber.text, "1000");
}

TEST_F(ConfigFile, NamesInAnyCaseSpacesAndQuotes)
{
    writeFile(path, crlf({"[LINTREL]", "numsessions = 1", "PASSWORD= \"  secret \" ",
                          "onerrorrunapp=  'run me'  ", "[session1]",
                          "IPADDRESS=   host.example   ", "portnumber=\"4001\"",
                          "localip=192.0.2.7"}));
    getprofilesettings(runner, path);
    EXPECT_EQ(GlobalOptions.Password, "  secret ");
    EXPECT_EQ(GlobalOptions.OnErrorRunApp, "run me");
    ASSERT_EQ(runner.sessionCount(), 1u);
    const Session& s = runner.session(0);
    EXPECT_EQ(s.IPAddress.text, "host.example");
    EXPECT_EQ(s.PortNumber.text, "4001");
    // An address this host does not report is kept, not lost.
    EXPECT_EQ(s.LocalIP.text(), "192.0.2.7");
}

TEST_F(ConfigFile, HandEditedValuesOutOfRangeDoNotFail)
{
    writeFile(path, crlf({"[Lintrel]", "NumSessions=1", "PacketSize=0", "PingFrequency=12",
                          "PingTimeout=-3", "[Session1]", "Connector=100", "BaudRate=13",
                          "Parity=99999999999", "Databits=-1", "BufferSize=9",
                          "IPAddress=" + std::string(250, 'h'), "PortNumber=70000"}));
    getprofilesettings(runner, path);
    EXPECT_EQ(GlobalOptions.PacketSize, 2000);
    EXPECT_EQ(GlobalOptions.PingFrequency, 1);
    EXPECT_EQ(GlobalOptions.PingTimeout, 0);   // "-3" does not begin with a digit
    const Session& s = runner.session(0);
    // Out of range: the list keeps what a new session shows.
    EXPECT_EQ(s.Combo2.text(), "NONE");
    EXPECT_EQ(s.Combo1[0].text(), "9600");
    EXPECT_EQ(s.Combo1[1].text(), "None");
    EXPECT_EQ(s.Combo1[2].text(), "5");        // "-1" reads as 0
    EXPECT_EQ(s.Combo1[5].text(), "8192");
    EXPECT_EQ(s.IPAddress.text, std::string(199, 'h'));
    // The port number check a typed value gets, once; the text stays.
    EXPECT_EQ(s.PortNumber.text, "70000");
    EXPECT_EQ(err.str(), "Error: Port numbers must range between 0 and 65565\n");
}

TEST_F(ConfigFile, ZeroSessionsGivesOneNewSession)
{
    writeFile(path, "[Lintrel]\r\nNumSessions=0\r\nPassword=x\r\n[Session1]\r\nPortNumber=1\r\n");
    getprofilesettings(runner, path);
    ASSERT_EQ(runner.sessionCount(), 1u);
    EXPECT_EQ(runner.session(0).PortNumber.text, "1000");
    EXPECT_EQ(GlobalOptions.Password, "x");
}

// What is no configuration (a count that would take the machine, a text
// in another encoding, binary data, a device) is refused with its reason,
// and neither the sessions in memory nor the file change.
TEST_F(ConfigFile, FilesThatAreNoConfigurationAreRefusedAndLeftAlone)
{
    writeFile(path, crlf({"[Lintrel]", "NumSessions=2", "PacketSize=512", "[Session1]", "PortNumber=4001"}));
    ASSERT_EQ(getprofilesettings(runner, path), "");
    ASSERT_EQ(runner.sessionCount(), 2u);
    Session* first = &runner.session(0);

    std::string utf16 = "\xFF\xFE";
    for (const char c : crlf({"[Lintrel]", "NumSessions=1"}))
        utf16 += std::string{c, '\0'};
    std::string binary = "\x7F" "ELF\x02\x01\x01";
    binary += std::string(64, '\0');
    struct Case {
        std::string name, data, reason;
    };
    const std::vector<Case> cases = {
        {"many.qcf", crlf({"[Lintrel]", "NumSessions=100000"}), "asks for 100000 sessions; at most 256"},
        {"digits.qcf", crlf({"[Lintrel]", "NumSessions=" + std::string(30, '9')}),
         "asks for 999999999999... (30 digits) sessions"},
        {"count.qcf", crlf({"[lintrel]", "numsessions = 0000257x"}), "asks for 257 sessions"},
        {"utf16.qcf", utf16, "UTF-16 text"},
        {"binary.qcf", binary, "not a text file (a zero byte at offset 7)"},
        {"controls.qcf", std::string(100, '\x01') + "[Lintrel]\r\n", "not a text file (100 control bytes)"},
        {"large.qcf", "[Lintrel]\r\n" + std::string(kMaxConfigBytes, ';'), "bytes long; a configuration file holds at most 4 MiB"},
    };
    for (const Case& c : cases) {
        const std::string file = dir.file(c.name);
        writeFile(file, c.data);
        EXPECT_NE(getprofilesettings(runner, file).find(c.reason), std::string::npos) << c.name;
        EXPECT_EQ(runner.sessionCount(), 2u) << c.name;
        EXPECT_EQ(&runner.session(0), first) << c.name;
        EXPECT_EQ(GlobalOptions.PacketSize, 512) << c.name;
        EXPECT_NE(writeprofilesettings(runner, file), "") << c.name;
        EXPECT_EQ(readFile(file), c.data) << c.name;
    }
    EXPECT_EQ(getprofilesettings(runner, "/dev/zero"), "it is not a regular file");

    // The bound itself loads; an empty workspace gets its one session.
    writeFile(path, crlf({"[Lintrel]", "NumSessions=256"}));
    EXPECT_EQ(getprofilesettings(runner, path), "");
    EXPECT_EQ(runner.sessionCount(), 256u);
    runner.closeAllSessions();
    EXPECT_NE(getprofilesettings(runner, dir.file("many.qcf")), "");
    EXPECT_EQ(runner.sessionCount(), 1u);
}

TEST_F(ConfigFile, AByteOrderMarkDoesNotHideTheGlobalSection)
{
    writeFile(path, "\xEF\xBB\xBF" + crlf({"[Lintrel]", "NumSessions=2", "PacketSize=700", "Password=p"}));
    ASSERT_EQ(getprofilesettings(runner, path), "");
    EXPECT_EQ(runner.sessionCount(), 2u);
    EXPECT_EQ(GlobalOptions.PacketSize, 700);
    EXPECT_EQ(GlobalOptions.Password, "p");
}

// The forms are exactly what saving writes, key for key, so whatever key
// saving learns, reload and --check know it too.
TEST_F(ConfigFile, FormsAreWhatSavingWrites)
{
    writeFile(path, crlf({"[Lintrel]", "NumSessions=2", "PacketSize=300", "[Session1]", "Connector=7",
                          "PortNumber=4001", "AutoActivate=1", "[Session2]", "TCPOption=1"}));
    ASSERT_EQ(getprofilesettings(runner, path), "");
    const std::string saved = dir.file("saved.qcf");
    writeprofilesettings(runner, saved);
    auto sectionText = [](const SectionForm& form, const std::string& name) {
        std::string text = "[" + name + "]\r\n";
        for (const auto& [key, value] : form)
            text += key + "=" + value + "\r\n";
        return text;
    };
    const std::string expected = sectionText(globalForm(runner), "Lintrel") +
                                 sectionText(sessionForm(runner.session(0), 1, false), "Session1") +
                                 sectionText(sessionForm(runner.session(1), 2, false), "Session2");
    EXPECT_EQ(readFile(saved), expected);
    const SectionForm first = sessionForm(runner.session(0), 1, true);
    EXPECT_EQ(std::count(first.begin(), first.end(), std::pair<std::string, std::string>("AutoActivate", "1")), 1);
    EXPECT_EQ(std::count(first.begin(), first.end(), std::pair<std::string, std::string>("Connector", "7")), 1);

    // A key that saving keeps only where the file has it is in the form of
    // that file, and only there.
    writeFile(path, crlf({"[Lintrel]", "NumSessions=1", "[Session1]", "LowLatency=0"}));
    ASSERT_EQ(getprofilesettings(runner, path), "");
    const SectionForm kept = sessionForm(runner.session(0), 1, false, path);
    EXPECT_EQ(kept.back(), (std::pair<std::string, std::string>("LowLatency", "0")));
    EXPECT_NE(sessionForm(runner.session(0), 1, false).back().first, "LowLatency");
}

TEST(MatchSessions, UnchangedSectionsAreFoundWhereverTheyMoved)
{
    const SectionForm a{{"PortNumber", "1"}}, b{{"PortNumber", "2"}}, c{{"PortNumber", "3"}},
        b2{{"PortNumber", "2"}, {"AutoActivate", "0"}};
    using V = std::vector<int>;
    EXPECT_EQ(matchSessions({a, b}, {a, b}), (V{0, 1}));
    EXPECT_EQ(matchSessions({a, b}, {a, c}), (V{0, -1}));      // the second changed
    EXPECT_EQ(matchSessions({a, b, c}, {c, a}), (V{2, 0}));    // reordered, one removed
    EXPECT_EQ(matchSessions({a}, {a, b}), (V{0, -1}));         // one added
    EXPECT_EQ(matchSessions({a, a}, {a, a, a}), (V{0, 1, -1})); // twins stay where they were
    EXPECT_EQ(matchSessions({b}, {b2}), (V{-1}));              // a key more is a change
    EXPECT_EQ(matchSessions({}, {}), V{});
}
