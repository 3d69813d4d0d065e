#include "profile/profile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace profile {
namespace {

// Reads and rewrites of the same file from several threads must not interleave.
std::mutex g_fileLock;

// One line of the file: its text without the line end, and the line end as
// it stood ("\r\n", "\n" or nothing for a last line without one).  lead
// holds a byte-order mark before the first line's text.
struct Line {
    std::string text;
    std::string end;
    std::string lead;
};

const char kUtf8Bom[] = "\xEF\xBB\xBF";

// The files a ReadScope on this thread has parsed, by name.
thread_local std::map<std::string, std::vector<Line>>* t_scope = nullptr;

std::vector<Line> parseLines(const std::string& file)
{
    std::vector<Line> lines;
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return lines;
    std::string data;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, n);
    std::fclose(f);

    std::size_t pos = 0;
    std::string lead;
    if (data.compare(0, 3, kUtf8Bom) == 0) {
        lead = kUtf8Bom;
        pos = 3;
    }
    while (pos < data.size()) {
        const std::size_t nl = data.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = data.substr(pos);
            pos = data.size();
        } else {
            std::size_t textEnd = nl;
            if (textEnd > pos && data[textEnd - 1] == '\r')
                --textEnd;
            line.text = data.substr(pos, textEnd - pos);
            line.end = data.substr(textEnd, nl + 1 - textEnd);
            pos = nl + 1;
        }
        lines.push_back(std::move(line));
    }
    if (!lead.empty()) {
        if (lines.empty())
            lines.push_back({});
        lines.front().lead = lead;
    }
    return lines;
}

// The scope's copy of the file, parsed on first use.
const std::vector<Line>& scopeLines(const std::string& file)
{
    auto it = t_scope->find(file);
    if (it == t_scope->end())
        it = t_scope->emplace(file, parseLines(file)).first;
    return it->second;
}

std::vector<Line> readLines(const std::string& file)
{
    return t_scope ? scopeLines(file) : parseLines(file);
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

std::string trim(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && isSpace(s[b]))
        ++b;
    while (e > b && isSpace(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool sameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The section name of a header line "[name]", if the line is one.
std::optional<std::string> sectionOf(const Line& line)
{
    // Most lines are keys: tell them apart before copying anything.
    const std::size_t first = line.text.find_first_not_of(" \t");
    if (first == std::string::npos || line.text[first] != '[')
        return std::nullopt;
    const std::string t = trim(line.text);
    if (t.empty() || t.front() != '[')
        return std::nullopt;
    const std::size_t close = t.find(']');
    return trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

// Where a section lies: its header line and one past its last line.
struct SectionRange {
    std::size_t header;
    std::size_t end;
};

std::optional<SectionRange> findSection(const std::vector<Line>& lines, const std::string& name)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto s = sectionOf(lines[i]);
        if (!s || !sameName(*s, name))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !sectionOf(lines[end]))
            ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

// The line index of key inside the section, and its raw value.
std::optional<std::size_t> findKey(const std::vector<Line>& lines, const SectionRange& r,
                                   const std::string& key, std::string* value = nullptr)
{
    for (std::size_t i = r.header + 1; i < r.end; ++i) {
        const std::string& t = lines[i].text;
        const std::size_t eq = t.find('=');
        if (eq == std::string::npos || !sameName(trim(t.substr(0, eq)), key))
            continue;
        if (value)
            *value = t.substr(eq + 1);
        return i;
    }
    return std::nullopt;
}

std::string unquote(std::string v)
{
    v = trim(v);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

std::optional<std::string> readValue(const std::string& section, const std::string& key,
                                     const std::string& file)
{
    const std::string s = trim(section), k = trim(key);
    if (s.empty() || k.empty())
        return std::nullopt;
    std::vector<Line> parsed;
    const std::vector<Line>* kept = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_fileLock);
        if (t_scope)
            kept = &scopeLines(file);
        else
            parsed = parseLines(file);
    }
    const std::vector<Line>& lines = kept ? *kept : parsed;
    auto range = findSection(lines, s);
    if (!range)
        return std::nullopt;
    std::string raw;
    if (!findKey(lines, *range, k, &raw))
        return std::nullopt;
    return unquote(raw);
}

bool writeAll(const std::string& file, const std::vector<Line>& lines)
{
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f)
        return false;
    bool ok = true;
    if (t_scope)
        t_scope->erase(file);
    for (const Line& l : lines) {
        ok = ok && std::fwrite(l.lead.data(), 1, l.lead.size(), f) == l.lead.size();
        ok = ok && std::fwrite(l.text.data(), 1, l.text.size(), f) == l.text.size();
        ok = ok && std::fwrite(l.end.data(), 1, l.end.size(), f) == l.end.size();
    }
    return std::fclose(f) == 0 && ok;
}

bool hasLineBreak(const std::string& s)
{
    return s.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

ReadScope::ReadScope() : m_outermost(t_scope == nullptr)
{
    if (m_outermost)
        t_scope = new std::map<std::string, std::vector<Line>>;
}

ReadScope::~ReadScope()
{
    if (m_outermost) {
        delete t_scope;
        t_scope = nullptr;
    }
}

std::uint32_t getPrivateProfileString(const std::string& section, const std::string& key,
                                      const std::string& defaultValue, char* buffer,
                                      std::uint32_t size, const std::string& file)
{
    if (!buffer || size == 0)
        return 0;
    const std::string v = readValue(section, key, file).value_or(defaultValue);
    const std::size_t n = std::min<std::size_t>(v.size(), size - 1);
    std::memcpy(buffer, v.data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& file,
                                    std::uint32_t size)
{
    std::vector<char> buf(std::max<std::uint32_t>(size, 1));
    const std::uint32_t n =
        getPrivateProfileString(section, key, defaultValue, buf.data(), size, file);
    return std::string(buf.data(), n);
}

int getPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& file)
{
    const auto v = readValue(section, key, file);
    if (!v)
        return defaultValue;
    // Digits only: a sign, like any other non-digit start, gives 0.
    // Unsigned arithmetic: an overlong number wraps instead of overflowing.
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < v->size() && std::isdigit(static_cast<unsigned char>((*v)[i])); ++i)
        n = n * 10u + static_cast<std::uint32_t>((*v)[i] - '0');
    return static_cast<int>(n);
}

bool writePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file)
{
    const std::string s = trim(section), k = trim(key);
    if (s.empty() || k.empty() || hasLineBreak(s) || hasLineBreak(k) || hasLineBreak(value) ||
        k.find('=') != std::string::npos || s.find(']') != std::string::npos)
        return false;

    std::lock_guard<std::mutex> lock(g_fileLock);
    std::vector<Line> lines = readLines(file);
    const std::string entry = k + "=" + value;

    auto range = findSection(lines, s);
    if (!range) {
        if (!lines.empty() && lines.back().end.empty())
            lines.back().end = "\r\n";
        lines.push_back({"[" + s + "]", "\r\n", {}});
        lines.push_back({entry, "\r\n", {}});
        return writeAll(file, lines);
    }
    if (auto at = findKey(lines, *range, k)) {
        lines[*at].text = entry;
        return writeAll(file, lines);
    }
    // A new key goes after the section's last non-blank line, so blank lines
    // separating it from the next section stay where they are.
    std::size_t last = range->end - 1;
    while (last > range->header && trim(lines[last].text).empty())
        --last;
    if (lines[last].end.empty())
        lines[last].end = "\r\n";
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last + 1), Line{entry, "\r\n", {}});
    return writeAll(file, lines);
}

}  // namespace profile
