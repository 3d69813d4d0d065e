#include "registry_store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace lt::registry {
namespace {

const char* rootFileName(HKEY root)
{
    switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT.reg";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER.reg";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE.reg";
    default: return nullptr;
    }
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool makeFolders(const std::string& folder)
{
    std::string part;
    for (std::size_t i = 0; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '/') {
            if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
        if (i < folder.size())
            part += folder[i];
    }
    return true;
}

bool writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// One value line: @=<type>:<data> or "<name>"=<type>:<data>.
bool parseValue(const std::string& line, StoredValue& v)
{
    std::size_t i = 0;
    if (line[0] == '@') {
        i = 1;
    } else {
        std::size_t end = 1;
        while (end < line.size() && line[end] != '"')
            end += line[end] == '\\' ? 2 : 1;
        if (end >= line.size())
            return false;
        v.name = unescapeText(line.substr(1, end - 1));
        i = end + 1;
    }
    if (i >= line.size() || line[i] != '=')
        return false;
    const std::size_t colon = line.find(':', i + 1);
    if (colon == std::string::npos)
        return false;
    v.type = DWORD(std::strtoul(line.substr(i + 1, colon - i - 1).c_str(), nullptr, 10));
    v.data = unescapeText(line.substr(colon + 1));
    return true;
}

}  // namespace

std::string storeFolder()
{
    if (const char* dir = std::getenv("LINTREL_REGISTRY_DIR"); dir && *dir)
        return dir;
    std::string config;
    if (const char* c = std::getenv("XDG_CONFIG_HOME"); c && *c == '/')
        config = c;
    else
        config = std::string(std::getenv("HOME") ? std::getenv("HOME") : "") + "/.config";
    return config + "/lintrel/registry";
}

const StoredValue* StoredKey::value(const std::string& name) const
{
    for (const StoredValue& v : values)
        if (sameName(v.name, name))
            return &v;
    return nullptr;
}

std::optional<Store> Store::load(HKEY root)
{
    const char* name = rootFileName(root);
    if (!name)
        return std::nullopt;
    Store s;
    s.m_file = storeFolder() + "/" + name;
    std::ifstream in(s.m_file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        if (line[0] == '[') {
            const std::size_t end = line.rfind(']');
            if (end != std::string::npos && end > 0)
                s.m_keys.push_back({normalizePath(unescapeText(line.substr(1, end - 1))), {}});
        } else if (!s.m_keys.empty() && (line[0] == '@' || line[0] == '"')) {
            StoredValue v;
            if (parseValue(line, v))
                s.m_keys.back().values.push_back(std::move(v));
        }
    }
    return s;
}

bool Store::save() const
{
    const std::string folder = m_file.substr(0, m_file.rfind('/'));
    if (!makeFolders(folder))
        return false;
    std::ostringstream out;
    for (const StoredKey& k : m_keys) {
        out << '[' << escapeText(k.path) << "]\n";
        for (const StoredValue& v : k.values) {
            if (v.name.empty())
                out << '@';
            else
                out << '"' << escapeText(v.name) << '"';
            out << '=' << v.type << ':' << escapeText(v.data) << '\n';
        }
        out << '\n';
    }
    // A new file beside the old one, renamed over it: a reader never sees
    // half a store, and the mode is the owner's only from the start.
    const std::string temp = m_file + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0600);
    const bool ok = writeAll(fd, out.str());
    if (::close(fd) != 0 || !ok || std::rename(temp.c_str(), m_file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

StoredKey* Store::find(const std::string& path)
{
    const std::string p = normalizePath(path);
    for (StoredKey& k : m_keys)
        if (sameName(k.path, p))
            return &k;
    return nullptr;
}

const StoredKey* Store::find(const std::string& path) const
{
    return const_cast<Store*>(this)->find(path);
}

StoredKey& Store::create(const std::string& path)
{
    const std::string p = normalizePath(path);
    std::string sofar;
    std::size_t start = 0;
    while (start <= p.size() && !p.empty()) {
        std::size_t end = p.find('\\', start);
        if (end == std::string::npos)
            end = p.size();
        sofar = joinPath(sofar, p.substr(start, end - start));
        if (!find(sofar))
            m_keys.push_back({sofar, {}});
        start = end + 1;
    }
    return *find(p);
}

std::size_t Store::removeTree(const std::string& path)
{
    const std::string p = normalizePath(path);
    if (p.empty())
        return 0;  // a root itself is never removed
    return std::erase_if(m_keys, [&](const StoredKey& k) {
        return sameName(k.path, p) || (k.path.size() > p.size() && k.path[p.size()] == '\\' &&
                                       sameName(k.path.substr(0, p.size()), p));
    });
}

std::string normalizePath(const std::string& path)
{
    std::string out, part;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            out = joinPath(out, part);
            part.clear();
        } else {
            part += path[i];
        }
    }
    return out;
}

bool sameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

std::string joinPath(const std::string& parent, const std::string& child)
{
    if (child.empty())
        return parent;
    if (parent.empty())
        return child;
    return parent + "\\" + child;
}

std::string escapeText(const std::string& bytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\\' || c == '"' || c == '[' || c == ']') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string unescapeText(const std::string& text)
{
    auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 0;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
        } else if (text[i + 1] == 'x' && i + 3 < text.size()) {
            out += char(digit(text[i + 2]) * 16 + digit(text[i + 3]));
            i += 3;
        } else {
            out += text[++i];
        }
    }
    return out;
}

}  // namespace lt::registry
