#include "registry/desktop_mirror.h"

#include "desktop_mirror_p.h"
#include "registry/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdlib>
#include <cstring>

namespace lt::registry {
namespace {

const char* const kMarker = "X-Lintrel-Registry";

std::string lowerText(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

std::string envFolder(const char* name, const char* fallback)
{
    if (const char* v = std::getenv(name); v && *v == '/')
        return v;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + fallback;
}

// Writes the file when its contents differ; true when it changed.
bool writeIfChanged(const std::string& path, const std::string& text)
{
    const QString name = QString::fromStdString(path);
    QFile old(name);
    if (old.open(QIODevice::ReadOnly) && old.readAll() == QByteArray::fromStdString(text))
        return false;
    old.close();
    QDir().mkpath(QFileInfo(name).absolutePath());
    QSaveFile f(name);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QByteArray::fromStdString(text));
    return f.commit();
}

bool fileHasMarker(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) && f.readAll().contains(kMarker);
}

// Runs a desktop database tool when it is installed, bounded in time.
void runTool(const char* tool, const std::string& folder)
{
    const QString exe = QStandardPaths::findExecutable(tool);
    if (exe.isEmpty())
        return;
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(exe, {QString::fromStdString(folder)});
    if (p.waitForStarted(5000) && !p.waitForFinished(20000))
        p.kill();
}

// Key-file string escaping, applied after the Exec quoting.
std::string escapeValue(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

// The command of a file type: program and arguments, "%1" and its kin as
// the file field code.  A command that does not start with a quote may
// hold an unquoted program path with blanks (there are no short names
// here): everything before the first argument that starts with "%" is
// taken as the program when that file exists.
std::vector<std::string> commandArguments(const std::string& command)
{
    std::vector<std::string> args;
    const std::size_t field = command.find(" %");
    const std::string head = command.substr(0, field);
    if (!command.empty() && command[0] != '"' && field != std::string::npos &&
        QFileInfo::exists(QString::fromStdString(head))) {
        args.push_back(head);
        for (const std::string& a : splitCommandLine(command.substr(field)))
            args.push_back(a);
    } else {
        args = splitCommandLine(command);
    }
    for (std::string& a : args)
        if (a == "%1" || a == "%L" || a == "%l")
            a = "%f";
    return args;
}

// "<program>,<n>" -> the themed icon "<program base name>"; an image file
// stands for itself.
std::string iconName(const std::string& defaultIcon)
{
    std::string path = defaultIcon;
    if (const std::size_t comma = path.rfind(','); comma != std::string::npos)
        path = path.substr(0, comma);
    if (path.size() > 1 && path.front() == '"' && path.back() == '"')
        path = path.substr(1, path.size() - 2);
    const QFileInfo info(QString::fromStdString(path));
    const QString suffix = info.suffix().toLower();
    if ((suffix == "svg" || suffix == "png" || suffix == "xpm") && info.exists())
        return info.absoluteFilePath().toStdString();
    return info.completeBaseName().toStdString();
}

std::string stringValue(const StoredKey* key, const std::string& name = "")
{
    const StoredValue* v = key ? key->value(name) : nullptr;
    return v && v->type == REG_SZ ? v->data : std::string();
}

// Sets mime=desktop in [Default Applications] of a mimeapps.list, keeping
// every other line.
std::string withDefaultApplication(const std::string& old, const std::string& mime,
                                   const std::string& desktop)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < old.size()) {
        std::size_t end = old.find('\n', start);
        if (end == std::string::npos)
            end = old.size();
        lines.push_back(old.substr(start, end - start));
        start = end + 1;
    }
    const std::string entry = mime + "=" + desktop;
    int section = -1, insertAt = -1;
    for (int i = 0; i < int(lines.size()); ++i) {
        const std::string& l = lines[std::size_t(i)];
        if (!l.empty() && l[0] == '[') {
            if (section >= 0)
                break;
            if (l == "[Default Applications]")
                section = insertAt = i;
        } else if (section >= 0) {
            if (l.rfind(mime + "=", 0) == 0) {
                lines[std::size_t(i)] = entry;
                insertAt = -2;
                break;
            }
            if (!l.empty())
                insertAt = i;
        }
    }
    if (section < 0) {
        if (!lines.empty() && !lines.back().empty())
            lines.push_back("");
        lines.push_back("[Default Applications]");
        lines.push_back(entry);
    } else if (insertAt != -2) {
        lines.insert(lines.begin() + insertAt + 1, entry);
    }
    std::string out;
    for (const std::string& l : lines)
        out += l + "\n";
    return out;
}

std::string readText(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

}  // namespace

std::string mimeTypeForProgId(const std::string& progId)
{
    std::string t = lowerText(progId);
    for (char& c : t)
        if (c == '.' || c == ' ' || c == '/')
            c = '-';
    return "application/x-" + t;
}

std::string desktopFileForProgId(const std::string& progId)
{
    return lowerText(progId.substr(0, progId.find('.'))) + ".desktop";
}

std::string dataHome()
{
    return envFolder("XDG_DATA_HOME", "/.local/share");
}

std::string configHome()
{
    return envFolder("XDG_CONFIG_HOME", "/.config");
}

std::string autostartFile(const std::string& valueName)
{
    std::string name = lowerText(valueName);
    for (char& c : name)
        if (c == '/' || c == '\\')
            c = '_';
    return configHome() + "/autostart/" + name + ".desktop";
}

bool isStartKey(const std::string& path)
{
    return sameName(path, kRunKey) || sameName(path, kRunOnceKey);
}

void mirrorFileTypes(const Store& classes)
{
    bool apps = false, mime = false;
    for (const StoredKey& ext : classes.keys()) {
        if (ext.path.size() < 2 || ext.path[0] != '.' || ext.path.find('\\') != std::string::npos)
            continue;
        const std::string progId = stringValue(&ext);
        const std::string command = stringValue(classes.find(progId + "\\shell\\open\\command"));
        if (progId.empty() || command.empty())
            continue;
        const std::string type = mimeTypeForProgId(progId);
        const std::string desktop = desktopFileForProgId(progId);
        const std::string icon = iconName(stringValue(classes.find(progId + "\\DefaultIcon")));
        const std::string title = progId.substr(0, progId.find('.'));

        std::string entry = "[Desktop Entry]\nType=Application\nName=" + escapeValue(title) +
                            "\nExec=" + escapeValue(desktopExec(commandArguments(command))) + "\n";
        if (!icon.empty())
            entry += "Icon=" + escapeValue(icon) + "\n";
        entry += "MimeType=" + type + ";\nTerminal=false\nNoDisplay=false\nCategories=Network;\n";
        entry += std::string(kMarker) + "=" + progId + "\n";
        apps |= writeIfChanged(dataHome() + "/applications/" + desktop, entry);

        std::string description = stringValue(classes.find(progId));
        if (description.empty())
            description = title + " " + progId.substr(std::min(progId.size(), title.size() + 1));
        QString comment = QString::fromStdString(description).toHtmlEscaped();
        std::string package =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
            "  <mime-type type=\"" + type + "\">\n"
            "    <comment>" + comment.toStdString() + "</comment>\n"
            "    <sub-class-of type=\"text/plain\"/>\n"
            "    <glob pattern=\"*" + QString::fromStdString(lowerText(ext.path)).toHtmlEscaped().toStdString() + "\"/>\n";
        if (!icon.empty() && icon[0] != '/')
            package += "    <icon name=\"" + QString::fromStdString(icon).toHtmlEscaped().toStdString() + "\"/>\n";
        package += "  </mime-type>\n</mime-info>\n";
        const std::string base = mimeTypeForProgId(progId).substr(std::strlen("application/x-"));
        mime |= writeIfChanged(dataHome() + "/mime/packages/" + base + ".xml", package);

        const std::string list = configHome() + "/mimeapps.list";
        writeIfChanged(list, withDefaultApplication(readText(list), type, desktop));
    }
    if (apps)
        runTool("update-desktop-database", dataHome() + "/applications");
    if (mime)
        runTool("update-mime-database", dataHome() + "/mime");
}

void mirrorStartEntry(const Store& currentUser, const std::string& valueName)
{
    const std::string file = autostartFile(valueName);
    const std::string run = stringValue(currentUser.find(kRunKey), valueName);
    const std::string once = stringValue(currentUser.find(kRunOnceKey), valueName);
    if (run.empty() && once.empty()) {
        if (fileHasMarker(file))
            QFile::remove(QString::fromStdString(file));
        return;
    }
    std::vector<std::string> args = splitCommandLine(run.empty() ? once : run);
    if (run.empty())
        args.insert(args.begin(), {"env", std::string(kRunOnceVariable) + "=" + valueName});
    const std::string entry = "[Desktop Entry]\nType=Application\nName=" + escapeValue(valueName) +
                              "\nExec=" + escapeValue(desktopExec(args)) +
                              "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n" + kMarker +
                              "=" + (run.empty() ? "RunOnce" : "Run") + "\n";
    writeIfChanged(file, entry);
}

bool takeRunOnceStart()
{
    const char* v = std::getenv(kRunOnceVariable);
    if (!v || !*v)
        return false;
    const std::string name = v;
    ::unsetenv(kRunOnceVariable);
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunOnceKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
    return true;
}

std::vector<std::string> splitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> args;
    std::string cur;
    bool quoted = false, any = false;
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        const char c = commandLine[i];
        if (c == '\\' && i + 1 < commandLine.size() && commandLine[i + 1] == '"') {
            cur += '"';
            any = true;
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any)
                args.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any)
        args.push_back(cur);
    return args;
}

std::string desktopExec(const std::vector<std::string>& args)
{
    static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string out;
    for (const std::string& a : args) {
        if (!out.empty())
            out += ' ';
        if (a == "%f") {
            out += a;
            continue;
        }
        std::string arg;
        for (char c : a)
            arg += c == '%' ? std::string("%%") : std::string(1, c);
        if (arg.empty() || arg.find_first_of(reserved) != std::string::npos) {
            std::string q = "\"";
            for (char c : arg) {
                if (c == '"' || c == '`' || c == '$' || c == '\\')
                    q += '\\';
                q += c;
            }
            arg = q + "\"";
        }
        out += arg;
    }
    return out;
}

}  // namespace lt::registry
