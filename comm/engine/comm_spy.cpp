#include "comm_spy.h"

#include "comm_object.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace qelcomm {
namespace {

std::atomic_flag g_writing = ATOMIC_FLAG_INIT;

}  // namespace

std::string commSpyPath()
{
    static const std::string path = [] {
        std::filesystem::path dir;
        if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
            dir = state;
        else if (const char* home = std::getenv("HOME"); home && *home)
            dir = std::filesystem::path(home) / ".local" / "state";
        else
            dir = std::filesystem::temp_directory_path();
        return (dir / "qelcomm6" / "commspy.txt").string();
    }();
    return path;
}

}  // namespace qelcomm

using namespace qelcomm;

void CommSpyMsg(QcHandle object, int, const char* text, const void* data, std::uint32_t count)
{
    if (!isObject(object))
        return;
    if (g_writing.test_and_set())
        return;  // an entry is being written: nested or concurrent entries are dropped
    const std::string entry =
        formatCommSpyEntry(text ? text : "", static_cast<const std::uint8_t*>(data), data ? count : 0);
    const std::string path = commSpyPath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (std::FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fwrite(entry.data(), 1, entry.size(), f);
        std::fclose(f);
    }
    g_writing.clear();
}

void CommSpyMsg(QcHandle object, int kind, const char* text, const std::string& data)
{
    CommSpyMsg(object, kind, text, data.data(), std::uint32_t(data.size()));
}

QELCOMM_CPP_API std::int32_t SetCommSpyInput(QcHandle object, std::int32_t flag)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    d->spyInput = flag;
    return 1;
}

QELCOMM_CPP_API std::int32_t SetCommSpyOutput(QcHandle object, std::int32_t flag)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    d->spyOutput = flag;
    return 1;
}
