#include "registration.h"

#include "registry/desktop_mirror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>

namespace lintrel {
namespace {

using namespace lt::registry;

// Writes the key's default value; a key that cannot be created is skipped.
void setDefaultValue(const std::string& key, const std::string& value)
{
    HKEY h = 0;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS)
        return;
    RegSetValueExA(h, "", REG_SZ, reinterpret_cast<const unsigned char*>(value.data()),
                   DWORD(value.size()));
    RegCloseKey(h);
}

// Copies one icon file from the resources unless the same bytes are there.
void installIconFile(const QString& resource, const QString& folder, const QString& target)
{
    QFile source(resource);
    if (!source.open(QIODevice::ReadOnly))
        return;
    const QByteArray icon = source.readAll();
    QFile old(folder + "/" + target);
    if (old.open(QIODevice::ReadOnly) && old.readAll() == icon)
        return;
    old.close();
    QDir().mkpath(folder);
    QFile out(folder + "/" + target);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(icon);
}

// The program's icon, from its resources, as the themed icon that the file
// type's "<program>,-1" names: the SVG and its PNG renderings, so that a
// desktop without SVG support shows it too.
void installIcon()
{
    const QString name = QFileInfo(QString::fromStdString(ProgramPath())).completeBaseName();
    const QString themes = QString::fromStdString(dataHome()) + "/icons/hicolor/";
    installIconFile(":/lintrel/lintrel.svg", themes + "scalable/apps", name + ".svg");
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QString("%1x%1/apps").arg(size);
        installIconFile(":/lintrel/hicolor/" + dir + "/lintrel.png", themes + dir, name + ".png");
    }
}

}  // namespace

std::string ReadRegistryString(HKEY root, const std::string& keyPath, const std::string& valueName,
                               const std::string& def)
{
    HKEY h = 0;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
        return def;
    std::array<unsigned char, 256> buf{};
    DWORD size = DWORD(buf.size());
    DWORD type = 0;
    const LONG r = RegQueryValueExA(h, valueName, &type, buf.data(), &size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS || type != REG_SZ)
        return def;
    const std::string text(reinterpret_cast<const char*>(buf.data()), size);
    return text.substr(0, text.find('\0'));
}

std::string ShortProgramPath()
{
    const std::string path = ProgramPath();
    std::array<char, 255> buf{};
    if (GetShortPathNameA(path.c_str(), buf.data(), DWORD(buf.size())) == 0)
        return path;
    return std::string(buf.data());   // up to its first NUL
}

void EnsureFileAssociation(const std::string& progId, const std::string& extension)
{
    const std::string current = ReadRegistryString(HKEY_CLASSES_ROOT, progId + "\\shell\\open\\command", "", "");
    const std::string shortPath = ShortProgramPath();
    const std::string command = shortPath + " %1";
    if (current == command || shortPath.empty())
        return;
    installIcon();
    setDefaultValue(progId + "\\shell\\open\\command", command);
    setDefaultValue(progId + "\\DefaultIcon", shortPath + ",-1");
    setDefaultValue(extension, progId);
}

bool SetStartEntry(bool enable, const std::string& valueName, const std::string& programPath,
                   bool currentUser, bool persistent)
{
    const HKEY root = currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const char* key = persistent ? kRunKey : kRunOnceKey;
    HKEY h = 0;
    if (enable) {
        const std::string value = "\"" + programPath + "\"";
        if (RegCreateKeyExA(root, key, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS)
            return false;
        const LONG r = RegSetValueExA(h, valueName, REG_SZ,
                                      reinterpret_cast<const unsigned char*>(value.data()),
                                      DWORD(value.size()));
        RegCloseKey(h);
        return r == ERROR_SUCCESS;
    }
    if (RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS, &h) == ERROR_SUCCESS) {
        RegDeleteValueA(h, valueName);   // a value already gone is no error
        RegCloseKey(h);
    }
    return true;
}

std::string ProgramPath()
{
    return QCoreApplication::applicationFilePath().toStdString();
}

void takeRunOnceStart()
{
    lt::registry::takeRunOnceStart();
}

}  // namespace lintrel
