// The modem settings of a comm object and the modem list they load from.
#include "modem_options.h"

#include "comm_object.h"
#include "qelcomm_modem.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace qelcomm {

std::vector<std::string> DefaultModemOptions()
{
    return modem::parseFields(modem::kDefaultModemEntry);
}

namespace modem {
namespace {

// Settings longer than this are cut, so GetModemOptions stays within
// QC_MODEM_OPTIONS_SIZE (one tab per field at most adds one byte).
constexpr std::size_t kMaxSettingsText = QC_MODEM_OPTIONS_SIZE - 1;

std::string envOr(const char* name, const std::string& fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::string homeDir() { return envOr("HOME", "/tmp"); }

std::string libraryFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LoadModemOptions), &info) && info.dli_fname)
        return fs::absolute(info.dli_fname).parent_path().string();
    return {};
}

std::string programFolder()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

void noteOpen(const std::string& path, bool success)
{
    const std::string log = openLogPath();
    std::error_code ec;
    fs::create_directories(fs::path(log).parent_path(), ec);
    if (FILE* f = std::fopen(log.c_str(), "ab")) {
        std::fprintf(f, "File open %s: %s.\r\n", path.c_str(), success ? "success" : "failed");
        std::fclose(f);
    }
}

}  // namespace

std::vector<std::string> parseFields(std::string_view text)
{
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 32)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    while (!fields.empty() && fields.back().empty())
        fields.pop_back();
    return fields;
}

std::string formatFields(const std::vector<std::string>& fields)
{
    std::string line;
    for (const std::string& f : fields)
        line += f + '\t';
    return line;
}

std::string field(const std::vector<std::string>& fields, ModemField which)
{
    return which < fields.size() ? fields[which] : std::string();
}

std::vector<std::string> splitModemList(std::string_view bytes)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : bytes) {
        if (c == '\n')
            continue;
        if (c == '\r') {
            if (line.empty())
                return lines;
            lines.push_back(std::move(line));
            line.clear();
            continue;
        }
        line += c;
        if (line.size() == kMaxLineLength) {
            lines.push_back(std::move(line));
            line.clear();
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));  // the last line needs no CR
    return lines;
}

std::vector<std::string> modemListFolders()
{
    std::vector<std::string> folders;
    if (std::string lib = libraryFolder(); !lib.empty())
        folders.push_back(lib);
    if (std::string prog = programFolder(); !prog.empty())
        folders.push_back(prog);
    folders.push_back(envOr("XDG_DATA_HOME", homeDir() + "/.local/share") + "/qelcomm6");
    const std::string dirs = envOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        if (end > start)
            folders.push_back(dirs.substr(start, end - start) + "/qelcomm6");
        start = end + 1;
    }
    // An installed library: <prefix>/lib/ next to <prefix>/share/qelcomm6/,
    // found for any prefix, whether or not it is among XDG_DATA_DIRS.
    if (std::string lib = libraryFolder(); !lib.empty())
        folders.push_back((fs::path(lib).parent_path() / "share" / "qelcomm6").string());
    return folders;
}

std::optional<std::vector<std::string>> readModemList()
{
    return readModemList(modemListFolders());
}

std::optional<std::vector<std::string>> readModemList(const std::vector<std::string>& folders)
{
    for (const std::string& folder : folders) {
        const std::string path = folder + "/" + kModemListName;
        std::ifstream in(path, std::ios::binary);
        noteOpen(path, bool(in));
        if (!in)
            continue;
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        return splitModemList(bytes);
    }
    return std::nullopt;
}

std::string openLogPath()
{
    return envOr("XDG_STATE_HOME", homeDir() + "/.local/state") + "/qelcomm6/comlog32.txt";
}

}  // namespace modem
}  // namespace qelcomm

using namespace qelcomm;

QELCOMM_API std::int32_t LoadModemOptions(QcHandle object, std::int32_t index)
{
    if (!isObject(object) || index < 0)
        return 0;
    if (index == 0) {
        resolve(object)->modemOptions = DefaultModemOptions();
        return 1;
    }
    const auto list = modem::readModemList();
    if (!list || std::size_t(index) > list->size())
        return 0;
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    d->modemOptions = modem::parseFields((*list)[std::size_t(index) - 1]);
    return 1;
}

QELCOMM_API std::int32_t GetModemOptions(QcHandle object, char* buffer)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    const std::string line = modem::formatFields(d->modemOptions);
    if (buffer)
        std::memcpy(buffer, line.data(), line.size());
    return std::int32_t(line.size());
}

QELCOMM_API void SetModemOptions(QcHandle object, const char* text)
{
    CommObjectData* d = resolve(object);
    if (!d || !text)
        return;
    const std::string_view view(text, std::min(std::strlen(text), modem::kMaxSettingsText));
    d->modemOptions = modem::parseFields(view);
}
