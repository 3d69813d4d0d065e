#include "port_name.h"

#include "serial/namespace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdlib>

namespace qelterm {
namespace {

QString canonical(const std::string& path)
{
    const QString c = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
    return c.isEmpty() ? QString::fromStdString(path) : c;
}

// The [Ports] entries of the map file in use, as "COMn=path" lines.
QStringList currentEntries()
{
    QFile f(QString::fromStdString(serial::portsMapPath()));
    QStringList entries;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return entries;
    bool inPorts = false;
    for (const QString& raw : QString::fromLocal8Bit(f.readAll()).split('\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith('['))
            inPorts = line.compare("[Ports]", Qt::CaseInsensitive) == 0;
        else if (inPorts && line.contains('='))
            entries << line;
    }
    return entries;
}

}  // namespace

std::string unusablePortText(const std::string& name)
{
    return name + " is neither a COM name, a device path nor a remote port (rfc2217://host:port)";
}

bool isRemotePortName(const std::string& name)
{
    // The serial layer opens rfc2217:// only; any other scheme would be
    // taken for a file name there and fail with a misleading reason.
    return serial::isRemotePortName(name) && name.size() > 10;
}

bool usablePortName(const std::string& name)
{
    return serial::comPortNumber(name) != 0 || (!name.empty() && name[0] == '/') || isRemotePortName(name);
}

PortChoice choosePort(const std::string& name)
{
    PortChoice choice;
    if (const int n = serial::comPortNumber(name)) {
        choice.number = n;
        return choice;
    }
    if (!usablePortName(name))
        return choice;
    const QString wanted = canonical(name);
    for (int n = 1; n <= 255; ++n)
        if (canonical(serial::resolvePortName("COM" + std::to_string(n))) == wanted) {
            choice.number = n;
            return choice;
        }
    // A free number: neither a virtual port, nor mapped, nor a ttyS device.
    int free = 0;
    for (int n = 255; n >= 1 && !free; --n) {
        const std::string fallback = "/dev/ttyS" + std::to_string(n - 1);
        if (serial::resolvePortName("COM" + std::to_string(n)) == fallback && !QFileInfo::exists(QString::fromStdString(fallback)))
            free = n;
    }
    if (!free)
        return choice;
    QTemporaryFile file(QDir::tempPath() + "/qelterm-ports-XXXXXX.ini");
    file.setAutoRemove(false);
    if (!file.open())
        return choice;
    QStringList lines{"[Ports]"};
    lines << currentEntries() << QString("COM%1=%2").arg(free).arg(QString::fromStdString(name));
    file.write((lines.join('\n') + '\n').toLocal8Bit());
    file.close();
    choice.tempMap = file.fileName().toStdString();
    ::setenv("LINTREL_PORTS", choice.tempMap.c_str(), 1);
    choice.number = free;
    return choice;
}

}  // namespace qelterm
