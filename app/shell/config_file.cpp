#include "config_file.h"

#include "app_paths.h"
#include "global_options.h"
#include "number_text.h"
#include "registration.h"

#include "profile/profile.h"

#include <QFile>

#include <cmath>
#include <cstdio>

namespace lintrel {
namespace {

const char* const kGlobal = "Lintrel";

// Defaults of the global section's integer keys when the file lacks them.
constexpr int kDefaultPingFrequency = 1;   // 10 seconds
constexpr int kDefaultPingTimeout = 9;     // 1000 ms
constexpr int kDefaultPacketSize = 2000;
constexpr int kPingFrequencyPositions = 12;
constexpr int kPingTimeoutPositions = 20;
constexpr int kMaxPacketSize = 10000;

// Key access with the file name bound; writes go to the form instead when
// one is given.
class Profile {
public:
    Profile(std::string file, std::string section, SectionForm* form = nullptr)
        : m_file(std::move(file)), m_section(std::move(section)), m_form(form) {}
    int integer(const char* key, int def) const
    {
        return profile::getPrivateProfileInt(m_section, key, def, m_file);
    }
    std::string text(const char* key, std::uint32_t size = 200) const
    {
        return profile::getPrivateProfileString(m_section, key, "", m_file, size);
    }
    void write(const char* key, const std::string& value) const
    {
        if (m_form)
            m_form->emplace_back(key, value);
        else
            profile::writePrivateProfileString(m_section, key, value, m_file);
    }
    void write(const char* key, long value) const { write(key, std::to_string(value)); }
    bool has(const char* key) const
    {
        static const char* const kAbsent = "\x01" "absent" "\x01";
        return profile::getPrivateProfileString(m_section, key, kAbsent, m_file) != kAbsent;
    }

private:
    std::string m_file, m_section;
    SectionForm* m_form;
};

std::string resolve(const std::string& file)
{
    return file.empty() ? defaultConfigFile() : file;
}

std::string sectionName(std::size_t i)
{
    return "Session" + std::to_string(i);
}

// A hand-edited position outside its list keeps the list's current
// selection, which for a session just created is its default.
void selectPosition(ListField& list, int position)
{
    if (position >= 0 && position < int(list.items.size()))
        list.index = position;
}

// The local address list takes a stored address that this host does not
// report as an extra entry: the setting survives the next save, and a
// bind to it reports its own error at activation.
void selectLocalAddress(ListField& list, const std::string& address)
{
    if (address.empty() || list.select(address))
        return;
    list.items.push_back(address);
    list.index = int(list.items.size()) - 1;
}

// Bytes, as a whole number from 0 (no bound) to 1 GB; anything else is the
// default.
std::int64_t clientQueueLimit(const std::string& text)
{
    constexpr std::int64_t kMax = std::int64_t(1) << 30;
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return GlobalOptionsRecord::kDefaultClientQueueLimit;
    const std::int64_t v = std::stoll(text);
    return v <= kMax ? v : GlobalOptionsRecord::kDefaultClientQueueLimit;
}

// Paths and allow-lists are read whole: cut at the usual 199 characters a
// path would name another file and a list another range.
constexpr std::uint32_t kLongText = 65536;

void loadSecurity(SecurityFields& f, const Profile& p)
{
    f.AllowedClients.text = p.text("AllowedClients", kLongText);
    f.Tls.checked = p.integer("Tls", 0) != 0;
    f.TlsCertificate.text = p.text("TlsCertificate", kLongText);
    f.TlsKey.text = p.text("TlsKey", kLongText);
    f.TlsCaFile.text = p.text("TlsCaFile", kLongText);
    f.TlsRequireClientCertificate.checked = p.integer("TlsRequireClientCertificate", 0) != 0;
}

// Each written when set, or kept when the file has it: a file from before
// these settings is written back as it was.
void saveSecurity(const SecurityFields& f, const Profile& p)
{
    auto text = [&p](const char* key, const std::string& value) {
        if (!value.empty() || p.has(key))
            p.write(key, value);
    };
    auto flag = [&p](const char* key, bool on) {
        if (on || p.has(key))
            p.write(key, on ? 1 : 0);
    };
    text("AllowedClients", f.AllowedClients.text);
    flag("Tls", f.Tls.checked);
    text("TlsCertificate", f.TlsCertificate.text);
    text("TlsKey", f.TlsKey.text);
    text("TlsCaFile", f.TlsCaFile.text);
    flag("TlsRequireClientCertificate", f.TlsRequireClientCertificate.checked);
}

int inRange(int value, int lo, int hi, int fallback)
{
    return value >= lo && value <= hi ? value : fallback;
}

void loadGlobals(SessionWorkspace& w, const Profile& p, int& numSessions)
{
    numSessions = p.integer("NumSessions", 0);
    w.setWindowState(p.integer("WindowState", kStateNormal));
    GlobalOptionsRecord& g = GlobalOptions;
    g.OnErrorRunApp = p.text("OnErrorRunApp");
    g.Password = p.text("Password");
    g.LogErrors = p.integer("LogErrors", 0) != 0;
    g.PingEnabled = p.integer("PingEnabled", 0) != 0;
    // Positions and sizes outside their ranges would give the sessions
    // meaningless ping intervals or packets of no bytes: the defaults
    // stand in for them.
    g.PingFrequency = inRange(p.integer("PingFrequency", kDefaultPingFrequency), 0,
                              kPingFrequencyPositions - 1, kDefaultPingFrequency);
    g.PingTimeout = inRange(p.integer("PingTimeout", kDefaultPingTimeout), 0,
                            kPingTimeoutPositions - 1, kDefaultPingTimeout);
    g.PacketSize = inRange(p.integer("PacketSize", kDefaultPacketSize), 1, kMaxPacketSize,
                           kDefaultPacketSize);
    g.LoadWithWindows = p.integer("LoadWithWindows", 0) != 0;
    g.ClientQueueLimit = clientQueueLimit(p.text("ClientQueueLimit"));
}

void loadSession(SessionWorkspace& w, Session& s, const Profile& p, std::size_t number)
{
    selectPosition(s.Combo2, p.integer("Connector", 0));
    selectPosition(s.Combo1[0], p.integer("BaudRate", 0));
    selectPosition(s.Combo1[1], p.integer("Parity", 0));
    selectPosition(s.Combo1[2], p.integer("Databits", 0));
    selectPosition(s.Combo1[3], p.integer("Stopbits", 0));
    selectPosition(s.Combo1[4], p.integer("FlowControl", 0));
    selectPosition(s.Combo1[5], p.integer("BufferSize", 2));
    s.BufferSerData.checked = p.integer("BufferSerialData", 0) != 0;
    s.chkVPort.checked = p.integer("CreateVirtualPort", 0) != 0;
    selectLocalAddress(s.LocalIP, p.text("LocalIP"));
    s.IPAddress.text = p.text("IPAddress");
    s.PortNumber.text = p.text("PortNumber");
    s.PortNumber_Change();   // the range check a typed port number gets

    s.TCPOption_Click(p.integer("TCPOption", 0) == 0 ? 0 : 1);

    auto& io = IoOptionTransfer.fields;
    io[0] = std::int16_t(p.integer("AllowMultiConnect", 1));
    io[1] = std::int16_t(p.integer("ServerSerialOptions", 0));
    io[2] = std::int16_t(p.integer("ServerTCPOptions", 0));
    io[3] = std::int16_t(p.integer("ClientOptions", 0));
    io[4] = std::int16_t(p.integer("ConnectOnVirtualOpen", 1));
    s.UpdateStatus();

    if (p.integer("AutoActivate", 0) == 1)
        w.AutoActivateFlags[number] = 1;

    s.WaitForCr.checked = p.integer("WaitForCr", 0) != 0;
    s.txtTimeoutValue.text = std::to_string(p.integer("TimeoutValue", 150));
    s.LowLatency.checked = p.integer("LowLatency", 0) != 0;
    s.Rfc2217.checked = p.integer("Rfc2217", 0) != 0;
    loadSecurity(s.Security, p);
    if (s.changed)
        s.changed();
}

void saveSession(Session& s, const Profile& p, bool autoActivate)
{
    p.write("Connector", s.Combo2.index);
    for (std::size_t k = 0; k < 6; ++k) {
        static const char* const keys[6] = {"BaudRate", "Parity", "Databits",
                                            "Stopbits", "FlowControl", "BufferSize"};
        p.write(keys[k], s.Combo1[k].index);
    }
    p.write("CreateVirtualPort", s.chkVPort.checked ? 1 : 0);
    p.write("BufferSerialData", s.BufferSerData.checked ? 1 : 0);
    p.write("LocalIP", s.LocalIP.text());
    p.write("IPAddress", s.IPAddress.text);
    p.write("PortNumber", s.PortNumber.text);
    p.write("TCPOption", s.TCPOption[1].value ? 1 : 0);
    p.write("AutoActivate", autoActivate ? 1 : 0);
    p.write("WaitForCr", s.WaitForCr.checked ? 1 : 0);
    p.write("TimeoutValue", plainNumber(numericValue(s.txtTimeoutValue.text)));
    s.Getstatus();
    const auto& io = IoOptionTransfer.fields;
    p.write("AllowMultiConnect", io[0]);
    p.write("ServerSerialOptions", io[1]);
    p.write("ServerTCPOptions", io[2]);
    p.write("ClientOptions", io[3]);
    p.write("ConnectOnVirtualOpen", io[4]);
    // Written when on, or kept when the file has it: a file from before the
    // setting is written back as it was.
    if (s.LowLatency.checked || p.has("LowLatency"))
        p.write("LowLatency", s.LowLatency.checked ? 1 : 0);
    if (s.Rfc2217.checked || p.has("Rfc2217"))
        p.write("Rfc2217", s.Rfc2217.checked ? 1 : 0);
    saveSecurity(s.Security, p);
}

void saveGlobals(SessionWorkspace& w, const Profile& g)
{
    const GlobalOptionsRecord& o = GlobalOptions;
    g.write("NumSessions", long(w.sessionCount()));
    g.write("WindowState", w.windowState());
    g.write("OnErrorRunApp", o.OnErrorRunApp);
    g.write("LogErrors", o.LogErrors ? 1 : 0);
    g.write("LoadWithWindows", o.LoadWithWindows ? 1 : 0);
    g.write("PingEnabled", o.PingEnabled ? 1 : 0);
    g.write("PingFrequency", o.PingFrequency);
    g.write("PingTimeout", o.PingTimeout);
    g.write("PacketSize", o.PacketSize);
    g.write("Password", o.Password);
    // Written when it differs from the default, or kept when the file has it.
    if (o.ClientQueueLimit != GlobalOptionsRecord::kDefaultClientQueueLimit || g.has("ClientQueueLimit"))
        g.write("ClientQueueLimit", long(o.ClientQueueLimit));
}

}  // namespace

std::string defaultConfigFile()
{
    return programFile("default.qcf");
}

std::string plainNumber(double value)
{
    if (!std::isfinite(value))
        return "0";
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return std::to_string(static_cast<long long>(value));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    return buf;
}

std::string getprofilesettings(SessionWorkspace& w, const std::string& file)
{
    const std::string path = resolve(file);
    if (std::string why = configFileProblem(path); !why.empty()) {
        if (w.sessionCount() == 0)
            w.NewSession().LowLatency.checked = true;
        return why;
    }
    profile::ReadScope scope;   // one parse of the file for all its keys
    w.closeAllSessions();
    int n = 0;
    loadGlobals(w, Profile(path, kGlobal), n);
    if (n <= 0) {
        // Nothing saved: a session as the user would create it anew.
        w.NewSession().LowLatency.checked = true;
        return {};
    }
    w.AutoActivateFlags.assign(std::size_t(n) + 2, 0);
    for (std::size_t i = 1; i <= std::size_t(n); ++i) {
        Session& s = w.NewSession();
        loadSession(w, s, Profile(path, sectionName(i)), i);
    }
    return {};
}

// The file holds the password in plain text: readable by its owner only,
// from the moment it exists.
static void makeOwnerOnly(const std::string& path)
{
    const QString name = QString::fromStdString(path);
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!QFile::exists(name)) {
        QFile f(name);
        if (f.open(QIODevice::WriteOnly, ownerOnly))
            return;
    }
    QFile::setPermissions(name, ownerOnly);
}

std::string writeprofilesettings(SessionWorkspace& w, const std::string& file)
{
    const std::string path = resolve(file);
    // Keys written into a file that was refused on loading would damage
    // what its owner may still need (or, for a device, never end).
    if (std::string why = configFileProblem(path); !why.empty())
        return why;
    makeOwnerOnly(path);
    saveGlobals(w, Profile(path, kGlobal));

    SetStartEntry(GlobalOptions.LoadWithWindows, "Lintrel", ProgramPath(), true, false);

    for (std::size_t i = 0; i < w.sessionCount(); ++i) {
        Session& s = w.session(i);
        saveSession(s, Profile(path, sectionName(i + 1)), s.isActive());
    }
    return {};
}

SectionForm globalForm(SessionWorkspace& w, const std::string& file)
{
    SectionForm form;
    saveGlobals(w, Profile(file, kGlobal, &form));
    return form;
}

SectionForm sessionForm(Session& s, std::size_t number, bool autoActivate, const std::string& file)
{
    SectionForm form;
    saveSession(s, Profile(file, sectionName(number), &form), autoActivate);
    return form;
}

}  // namespace lintrel
