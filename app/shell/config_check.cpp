#include "config_check.h"

#include "config_file.h"
#include "headless.h"
#include "number_text.h"

#include "profile/profile.h"
#include "serial/namespace.h"
#include "winsock/address_list.h"
#include "winsock/tls_context.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkInterface>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

namespace lintrel {
namespace {

// ---- the file's lines as they stand

struct RawKey {
    std::string name;
    int line;
    std::size_t length;   // of the whole line, which bounds the value
};

struct RawSection {
    std::string name;
    int line;
    std::vector<RawKey> keys;
};

std::string trim(const std::string& s)
{
    const std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Problems and notes, printed in the order of the lines they are about.
class Report {
public:
    explicit Report(std::string file) : m_file(std::move(file)) {}
    void problem(int line, const std::string& text)
    {
        m_lines.push_back({line, text});
        ++m_count;
    }
    void note(int line, const std::string& text) { m_lines.push_back({line, "note: " + text}); }
    int count() const { return m_count; }
    void print(std::ostream& out)
    {
        std::stable_sort(m_lines.begin(), m_lines.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [line, text] : m_lines) {
            out << m_file << ':';
            if (line > 0)
                out << line << ':';
            out << ' ' << text << '\n';
        }
    }

private:
    std::string m_file;
    std::vector<std::pair<int, std::string>> m_lines;
    int m_count = 0;
};

// Sections and keys with their line numbers, as the profile reader sees
// them; lines it would pass over without a word are reported.
std::vector<RawSection> scanLines(const std::string& file, Report& report)
{
    QFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    std::string data = f.read(kMaxConfigBytes).toStdString();
    if (data.compare(0, 3, "\xEF\xBB\xBF") == 0)
        data.erase(0, 3);
    std::vector<RawSection> sections;
    std::istringstream in(data);
    std::string raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        const std::string t = trim(raw);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        if (t[0] == '[') {
            const std::size_t close = t.find(']');
            if (close == std::string::npos)
                report.problem(number, "section header without ']': " + t);
            sections.push_back({trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)),
                                number, {}});
            continue;
        }
        const std::size_t eq = t.find('=');
        if (eq == std::string::npos || trim(t.substr(0, eq)).empty()) {
            report.problem(number, "neither a section header, key=value nor a comment: " + t);
            continue;
        }
        if (sections.empty()) {
            report.problem(number, "key before any section: " + t);
            continue;
        }
        sections.back().keys.push_back({trim(t.substr(0, eq)), number, t.size()});
    }
    return sections;
}

// ---- the file as the program loads it

class CheckWorkspace : public SessionWorkspace {
public:
    std::size_t sessionCount() const override { return m_sessions.size(); }
    Session& session(std::size_t i) override { return *m_sessions.at(i); }
    Session& NewSession() override
    {
        m_sessions.push_back(std::make_unique<Session>());
        return *m_sessions.back();
    }
    void closeAllSessions() override { m_sessions.clear(); }
    int windowState() const override { return m_state; }
    void setWindowState(int state) override { m_state = state; }
    bool autoActivate(std::size_t i) const
    {
        return i + 1 < AutoActivateFlags.size() && AutoActivateFlags[i + 1] == 1;
    }

private:
    std::vector<std::unique_ptr<Session>> m_sessions;
    int m_state = kStateNormal;
};

bool allDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool sameNumber(const std::string& a, const std::string& b)
{
    auto strip = [](const std::string& s) {
        const std::size_t nz = s.find_first_not_of('0');
        return nz == std::string::npos ? std::string("0") : s.substr(nz);
    };
    return allDigits(a) && allDigits(b) && strip(a) == strip(b);
}

std::string shown(const std::string& value)
{
    return value.size() > 40 ? value.substr(0, 37) + "..." : value;
}

// Each key of a section against what saving the loaded section writes.
void checkKeys(const std::string& file, const RawSection& section, const SectionForm& form, Report& report)
{
    std::map<std::string, int> seen;
    for (const RawKey& key : section.keys) {
        const std::string id = lower(key.name);
        if (auto it = seen.find(id); it != seen.end()) {
            report.problem(key.line, key.name + " repeats in [" + section.name + "]; line " +
                                         std::to_string(it->second) + " is the one read");
            continue;
        }
        seen.emplace(id, key.line);
        const auto known = std::find_if(form.begin(), form.end(),
                                        [&](const auto& kv) { return lower(kv.first) == id; });
        if (known == form.end()) {
            report.problem(key.line, "unknown key " + key.name + " in [" + section.name + "]");
            continue;
        }
        const std::string value =
            profile::getPrivateProfileString(section.name, key.name, "", file, std::uint32_t(key.length) + 1);
        const std::string& read = known->second;
        if (value == read || sameNumber(value, read))
            continue;
        if (!allDigits(read) && read.size() < value.size() && value.compare(0, read.size(), read) == 0)
            report.problem(key.line, key.name + " in [" + section.name + "] is cut to its first " +
                                         std::to_string(read.size()) + " characters");
        else
            report.problem(key.line, key.name + "=" + shown(value) + " in [" + section.name +
                                         "] is read as " + (read.empty() ? "empty" : shown(read)));
    }
}

bool isLocalAddress(const std::string& text)
{
    const QHostAddress address(QString::fromStdString(text));
    if (address.isNull())
        return false;
    if (address == QHostAddress::AnyIPv4 || address.isLoopback())
        return true;
    static const auto all = QNetworkInterface::allAddresses();
    return std::find(all.begin(), all.end(), address) != all.end();
}

bool anyAddress(const std::string& text)
{
    return text.empty() || text == "0.0.0.0";
}

// The allow-list must parse, and the TLS files must be there, readable,
// the key the owner's alone and belonging to the certificate, all in date.
void checkSecurity(const Session& s, const std::string& name, int line, Report& report)
{
    const SecurityFields& f = s.Security;
    const bool server = s.TCPOption[1].value;
    std::string why;
    lt::winsock::AddressList list;
    if (server && !list.parse(f.AllowedClients.text, &why))
        report.problem(line, name + "AllowedClients: " + why);
    if (!f.Tls.checked)
        return;
    const lt::winsock::TlsFiles files{f.TlsCertificate.text, f.TlsKey.text, f.TlsCaFile.text,
                                      f.TlsRequireClientCertificate.checked};
    for (const std::string& problem : lt::winsock::tlsFileProblems(files, server))
        report.problem(line, name + problem);
}

// What the sessions' settings ask of this machine, and of each other.
void checkSessions(CheckWorkspace& w, const std::vector<int>& headerLine, Report& report)
{
    struct Use {
        std::size_t session;
        std::string what;
    };
    std::map<std::string, std::vector<Use>> comPorts, tcpPorts;
    std::map<std::string, bool> virtualNames;
    for (std::size_t i = 0; i < w.sessionCount(); ++i)
        if (Session& s = w.session(i); s.Combo2.index > 0 && s.chkVPort.checked)
            virtualNames[s.Combo2.text()] = true;

    for (std::size_t i = 0; i < w.sessionCount(); ++i) {
        Session& s = w.session(i);
        const int line = headerLine[i];
        const std::string name = "[Session" + std::to_string(i + 1) + "] ";
        const std::string com = s.Combo2.index > 0 ? s.Combo2.text() : std::string();
        if (com.empty()) {
            if (w.autoActivate(i))
                report.problem(line, name + "is saved as active but has no serial port (Connector=0): it "
                                            "never starts");
        } else if (s.chkVPort.checked) {
            comPorts["virtual " + com].push_back({i, "create the virtual port " + com});
        } else {
            comPorts[com].push_back({i, "use " + com});
            const std::string device = serial::resolvePortName(com);
            if (!virtualNames.count(com) && !QFileInfo::exists(QString::fromStdString(device)))
                report.problem(line, name + com + " is " + device + ", which does not exist");
        }

        const bool server = s.TCPOption[1].value;
        const double port = numericValue(s.PortNumber.text);
        if (port < 1 || port > 65535 || port != double(long(port)))
            report.problem(line, name + "PortNumber=" + shown(s.PortNumber.text) +
                                     " is not a TCP port (1 to 65535)");
        if (!server && s.IPAddress.text.empty())
            report.problem(line, name + "acts as TCP client but names no host (IPAddress is empty)");
        const std::string local = s.LocalIP.text();
        if (server && !anyAddress(local) && !isLocalAddress(local))
            report.problem(line, name + "LocalIP=" + shown(local) + " is not an address of this host");
        if (server && port >= 1 && port <= 65535)
            tcpPorts[std::to_string(long(port))].push_back({i, local});
        checkSecurity(s, name, line, report);
    }

    for (const auto& [port, uses] : comPorts)
        for (std::size_t a = 1; a < uses.size(); ++a)
            report.problem(headerLine[uses[a].session],
                           "[Session" + std::to_string(uses[a].session + 1) + "] and [Session" +
                               std::to_string(uses[0].session + 1) + "] both " + uses[a].what);
    for (const auto& [port, uses] : tcpPorts)
        for (std::size_t a = 1; a < uses.size(); ++a)
            for (std::size_t b = 0; b < a; ++b)
                if (anyAddress(uses[a].what) || anyAddress(uses[b].what) || uses[a].what == uses[b].what) {
                    report.problem(headerLine[uses[a].session],
                                   "[Session" + std::to_string(uses[a].session + 1) + "] and [Session" +
                                       std::to_string(uses[b].session + 1) + "] both listen on TCP port " +
                                       port);
                    break;
                }
}

}  // namespace

int checkConfigFile(const std::string& file, std::ostream& out)
{
    Report report(file);
    std::string why = unreadableReason(file);
    if (why.empty())
        why = configFileProblem(file);
    if (!why.empty()) {
        report.problem(0, "cannot be loaded: " + why);
        report.print(out);
        return report.count();
    }
    profile::ReadScope scope;   // one parse of the file for all its keys
    const std::vector<RawSection> sections = scanLines(file, report);
    CheckWorkspace w;
    getprofilesettings(w, file);
    const int numSessions = profile::getPrivateProfileInt("Lintrel", "NumSessions", 0, file);
    const std::size_t n = numSessions > 0 ? std::size_t(numSessions) : 0;

    std::vector<int> headerLine(w.sessionCount(), 0);
    std::map<std::string, int> seen;
    bool global = false;
    for (const RawSection& section : sections) {
        const std::string id = lower(section.name);
        if (auto it = seen.find(id); it != seen.end()) {
            report.problem(section.line, "[" + section.name + "] repeats; only the one on line " +
                                             std::to_string(it->second) + " is read");
            continue;
        }
        seen.emplace(id, section.line);
        if (id == "lintrel") {
            global = true;
            checkKeys(file, section, globalForm(w, file), report);
            continue;
        }
        const std::string number = id.rfind("session", 0) == 0 ? id.substr(7) : std::string();
        if (!allDigits(number) || number[0] == '0') {
            report.problem(section.line, "unknown section [" + section.name + "]");
            continue;
        }
        const std::size_t k = number.size() > 9 ? n + 1 : std::stoul(number);
        if (k > n) {
            report.note(section.line, "[" + section.name + "] is not read: NumSessions is " + std::to_string(n));
            continue;
        }
        headerLine[k - 1] = section.line;
        checkKeys(file, section, sessionForm(w.session(k - 1), k, w.autoActivate(k - 1), file), report);
    }
    if (!global)
        report.problem(0, "no [Lintrel] section: the file loads as one new, empty session");
    else if (n == 0)
        report.problem(0, "NumSessions is 0 or missing: the file loads as one new, empty session");
    for (std::size_t k = 1; k <= n && k <= headerLine.size(); ++k)
        if (headerLine[k - 1] == 0)
            report.problem(0, "[Session" + std::to_string(k) + "] is missing: that session takes every default");
    if (n > 0)
        checkSessions(w, headerLine, report);

    report.print(out);
    if (report.count() == 0)
        out << file << ": " << n << (n == 1 ? " session" : " sessions") << ", no problems\n";
    else
        out << file << ": " << report.count() << (report.count() == 1 ? " problem" : " problems") << '\n';
    return report.count();
}

}  // namespace lintrel
