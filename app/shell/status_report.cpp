#include "status_report.h"

#include "control/control.h"
#include "kvd/kvd.h"
#include "serial/namespace.h"
#include "winsock/socket_control.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <cctype>

#include <unistd.h>

namespace lintrel {

namespace {

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

QString isoTime(std::int64_t ms)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QJsonObject sessionObject(Session& s, std::size_t number)
{
    QJsonObject o;
    o["number"] = qint64(number);
    o["caption"] = qs(s.Caption);
    o["active"] = s.isActive();
    const int n = s.isActive() ? s.PortIndex : std::max(0, s.Combo2.index);
    o["port"] = n > 0 ? QString("COM%1").arg(n) : QString("NONE");
    o["virtual"] = s.chkVPort.checked;
    if (s.chkVPort.checked)
        o["device"] = qs(s.virtualPortPath());
    else if (n > 0)
        o["device"] = qs(serial::locatePort(n).path);
    const bool server = s.isActive() ? s.ServerMode == 1 : s.TCPOption[1].value;
    o["role"] = server ? "server" : "client";
    o["host"] = qs(server ? s.LocalIP.text() : s.IPAddress.text);
    o["tcpPort"] = qs(s.PortNumber.text).toInt();
    o["lowLatency"] = s.isActive() ? s.LowLatencyActive : s.LowLatency.checked;
    o["serialStatus"] = qs(s.StatusBar1[0].text);
    o["tcpStatus"] = qs(s.StatusBar1[1].text);

    const SessionCounters& c = s.counters();
    QJsonObject k;
    k["serialIn"] = qint64(c.serialIn);
    k["serialOut"] = qint64(c.serialOut);
    k["tcpIn"] = qint64(c.tcpIn);
    k["tcpOut"] = qint64(c.tcpOut);
    k["opened"] = qint64(c.opened);
    k["closed"] = qint64(c.closed);
    k["errors"] = qint64(c.errors);
    if (c.activeSinceMs)
        k["since"] = isoTime(c.activeSinceMs);
    o["counters"] = k;

    QJsonArray clients;
    for (const Session::Client& cl : s.clients()) {
        QJsonObject x;
        x["address"] = qs(cl.counters.address);
        x["port"] = cl.counters.port;
        x["since"] = isoTime(cl.counters.sinceMs);
        x["bytesIn"] = qint64(cl.counters.bytesIn);
        x["bytesOut"] = qint64(cl.counters.bytesOut);
        clients.append(x);
    }
    o["clients"] = clients;
    return o;
}

QString number(const QJsonValue& v)
{
    return QLocale().toString(qint64(v.toDouble()));
}

}  // namespace

std::string statusJson(SessionWorkspace& w, const std::string& mode, const std::string& file)
{
    QJsonObject o;
    o["program"] = "lintrel";
#ifdef LINTREL_VERSION
    o["version"] = LINTREL_VERSION;
#endif
    o["pid"] = qint64(::getpid());
    o["mode"] = qs(mode);
    o["file"] = qs(file);
    QJsonArray sessions;
    for (std::size_t i = 0; i < w.sessionCount(); ++i)
        sessions.append(sessionObject(w.session(i), i + 1));
    o["sessions"] = sessions;
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

std::string statusText(const std::string& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    const QJsonObject o = doc.object();
    if (o["program"].toString() != "lintrel")
        return {};
    QString out = QString("Lintrel %1 (pid %2, %3)").arg(o["version"].toString()).arg(o["pid"].toInteger())
                      .arg(o["mode"].toString() == "window" ? "with windows" : "without windows");
    if (!o["file"].toString().isEmpty())
        out += ": " + o["file"].toString();
    out += "\n";
    const QJsonArray sessions = o["sessions"].toArray();
    if (sessions.isEmpty())
        out += "  no sessions\n";
    for (const QJsonValue& v : sessions) {
        const QJsonObject s = v.toObject();
        QString port = s["port"].toString();
        if (s["virtual"].toBool())
            port += " (virtual" + (s["device"].toString().isEmpty() ? QString() : ", " + s["device"].toString()) + ")";
        else if (!s["device"].toString().isEmpty())
            port += " (" + s["device"].toString() + ")";
        const bool server = s["role"].toString() == "server";
        out += QString("  Session%1  %2  %3  %4 %5:%6\n")
                   .arg(s["number"].toInteger())
                   .arg(s["active"].toBool() ? "active" : "inactive")
                   .arg(port)
                   .arg(server ? "server on" : "client of")
                   .arg(s["host"].toString().isEmpty() ? QString("?") : s["host"].toString())
                   .arg(s["tcpPort"].toInteger());
        out += "    " + s["serialStatus"].toString() + "  |  " + s["tcpStatus"].toString() + "\n";
        const QJsonObject c = s["counters"].toObject();
        out += QString("    serial in %1, out %2  |  tcp in %3, out %4  |  connections %5 opened, %6 closed  |  errors %7\n")
                   .arg(number(c["serialIn"]), number(c["serialOut"]), number(c["tcpIn"]), number(c["tcpOut"]),
                        number(c["opened"]), number(c["closed"]), number(c["errors"]));
        for (const QJsonValue& cv : s["clients"].toArray()) {
            const QJsonObject cl = cv.toObject();
            const QDateTime since = QDateTime::fromString(cl["since"].toString(), Qt::ISODateWithMs);
            out += QString("    client %1:%2  since %3  in %4, out %5\n")
                       .arg(cl["address"].toString())
                       .arg(cl["port"].toInteger())
                       .arg(since.toLocalTime().toString("yyyy-MM-dd HH:mm:ss"))
                       .arg(number(cl["bytesIn"]), number(cl["bytesOut"]));
        }
    }
    return out.toStdString();
}

std::string controlSocketPath()
{
    return kvd::portFolder() + "/lintrel." + std::to_string(::getpid()) + ".sock";
}

std::vector<std::string> controlFolders()
{
    std::vector<std::string> folders{serial::portFolder()};
    const std::string services = "/run/lintrel";
    if (QDir(qs(folders[0])).canonicalPath() != QDir(qs(services)).canonicalPath() || !QDir(qs(services)).exists())
        folders.push_back(services);
    return folders;
}

ControlChannel::ControlChannel(SessionWorkspace& w, std::string mode, std::string file)
    : m_workspace(w), m_mode(std::move(mode)), m_file(std::move(file))
{
}

ControlChannel::~ControlChannel() = default;

std::string ControlChannel::start()
{
    m_server = std::make_unique<lt::control::RequestServer>([this](const std::string& request) {
        return request == "status" ? statusJson(m_workspace, m_mode, m_file) : std::string();
    });
    std::string why;
    if (!m_server->listen(controlSocketPath(), &why)) {
        m_server.reset();
        return why.empty() ? "cannot listen" : why;
    }
    return {};
}

std::string ControlChannel::path() const
{
    return m_server ? m_server->path() : std::string();
}

namespace {

// lintrel.<pid>.sock in the folder, by pid.
std::vector<std::string> controlSockets(const std::string& folder)
{
    std::vector<std::pair<long, std::string>> found;
    const QStringList names = QDir(QString::fromStdString(folder)).entryList({"lintrel.*.sock"}, QDir::System);
    for (const QString& name : names) {
        const QString pid = name.mid(8, name.size() - 13);
        bool ok = false;
        const long n = pid.toLong(&ok);
        if (ok)
            found.emplace_back(n, folder + "/" + name.toStdString());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (const auto& f : found)
        paths.push_back(f.second);
    return paths;
}

}  // namespace

int runStatus(bool json, std::ostream& out, std::ostream& err)
{
    QJsonArray all;
    std::string text;
    int answered = 0;
    const std::vector<std::string> folders = controlFolders();
    for (const std::string& folder : folders) {
        for (const std::string& path : controlSockets(folder)) {
            std::string answer, why;
            if (!lt::control::ask(path, "status", answer, &why)) {
                if (why == "not running")
                    continue;   // left behind by a program that is gone
                if (why == "Permission denied")
                    why += " (another user's instance: ask as that user or as root)";
                err << "lintrel status: " << path << ": " << why << "\n";
                continue;
            }
            const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(answer));
            if (!doc.isObject()) {
                err << "lintrel status: " << path << ": not an answer of Lintrel\n";
                continue;
            }
            ++answered;
            all.append(doc.object());
            text += (text.empty() ? "" : "\n") + statusText(answer);
        }
    }
    if (answered == 0) {
        std::string where;
        for (const std::string& f : folders)
            where += (where.empty() ? "" : " or ") + f;
        err << "lintrel status: no running Lintrel found in " << where << "\n";
        if (json)
            out << "[]\n";
        return 1;
    }
    if (json)
        out << QJsonDocument(all).toJson(QJsonDocument::Indented).toStdString();
    else
        out << text;
    return 0;
}

}  // namespace lintrel
