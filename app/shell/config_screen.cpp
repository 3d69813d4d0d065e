// What a configuration file must be before a key of it is read: a regular
// file of modest size, text, and asking for a sane number of sessions.
// Anything else (a device such as /dev/zero, a UTF-16 or binary file, a
// count of a hundred thousand) would load silently as something else or
// take the machine's memory and time.
#include "config_file.h"

#include "profile/profile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <string>

namespace lintrel {
namespace {

// Bytes that do not occur in text: anything below a space but tab, line
// ends, form feed and escape, and DEL.
bool isBinaryByte(unsigned char c)
{
    if (c >= 0x20)
        return c == 0x7F;
    return c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' && c != 0x1B;
}

std::string notTextReason(const QByteArray& data)
{
    if (data.startsWith(QByteArray("\xFF\xFE\0\0", 4)) || data.startsWith(QByteArray("\0\0\xFE\xFF", 4)))
        return "it is UTF-32 text; save it as UTF-8 or plain ASCII";
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF"))
        return "it is UTF-16 text; save it as UTF-8 or plain ASCII";
    const qsizetype zero = data.indexOf('\0');
    if (zero >= 0)
        return "it is not a text file (a zero byte at offset " + std::to_string(zero) + ")";
    // A stray control character in a value is tolerated; a file full of
    // them is not a configuration.
    qsizetype odd = 0;
    for (const char c : data)
        odd += isBinaryByte(static_cast<unsigned char>(c)) ? 1 : 0;
    if (odd * 32 > data.size())
        return "it is not a text file (" + std::to_string(odd) + " control bytes)";
    return {};
}

// NumSessions as written, checked digit by digit, so that thirty digits
// are neither wrapped into a small count nor turned into an allocation.
std::string sessionCountReason(const std::string& file)
{
    const std::string value = profile::getPrivateProfileString(
        "Lintrel", "NumSessions", "", file, std::uint32_t(kMaxConfigBytes) + 1);
    std::size_t i = 0;
    while (i < value.size() && value[i] == '0')
        ++i;
    const std::size_t first = i;
    long count = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        if (count <= kMaxSessions)
            count = count * 10 + (value[i] - '0');
    if (count <= kMaxSessions)
        return {};
    std::string digits = value.substr(first, i - first);
    if (digits.size() > 24)
        digits = digits.substr(0, 12) + "... (" + std::to_string(digits.size()) + " digits)";
    return "it asks for " + digits + " sessions; at most " + std::to_string(kMaxSessions) +
           " can be loaded";
}

}  // namespace

std::string configFileProblem(const std::string& file)
{
    const QFileInfo info(QString::fromStdString(file));
    if (!info.exists() || info.isDir())
        return {};
    if (!info.isFile())
        return "it is not a regular file";
    const auto tooLarge = [](qint64 size) {
        return "it is " + std::to_string(size) + " bytes long; a configuration file holds at most " +
               std::to_string(kMaxConfigBytes >> 20) + " MiB";
    };
    if (info.size() > kMaxConfigBytes)
        return tooLarge(info.size());
    QFile f(info.absoluteFilePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = f.read(kMaxConfigBytes + 1);
    if (data.size() > kMaxConfigBytes)
        return tooLarge(data.size());
    if (std::string why = notTextReason(data); !why.empty())
        return why;
    return sessionCountReason(file);
}

}  // namespace lintrel
