#include "trace_file.h"

#include "traffic_log.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace lintrel {

TraceFile::TraceFile(std::string path, std::uint64_t bound, std::function<void(const std::string&)> onError)
    : m_path(std::move(path)), m_bound(std::max<std::uint64_t>(bound, 4096)), m_onError(std::move(onError))
{
}

TraceFile::~TraceFile()
{
    if (m_file)
        std::fclose(m_file);
}

void TraceFile::fail(const std::string& what)
{
    const std::string why = what + " " + m_path + ": " + std::strerror(errno);
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_failed = true;
    if (m_onError)
        m_onError(why);
}

bool TraceFile::open()
{
    if (m_failed)
        return false;
    m_file = std::fopen(m_path.c_str(), "ab");
    if (!m_file) {
        fail("cannot write");
        return false;
    }
    struct stat st{};
    m_size = ::stat(m_path.c_str(), &st) == 0 ? std::uint64_t(st.st_size) : 0;
    return true;
}

void TraceFile::rotate()
{
    std::fclose(m_file);
    m_file = nullptr;
    for (int k = kKeep; k >= 1; --k) {
        const std::string from = k == 1 ? m_path : m_path + "." + std::to_string(k - 1);
        std::rename(from.c_str(), (m_path + "." + std::to_string(k)).c_str());
    }
    m_file = std::fopen(m_path.c_str(), "wb");
    m_size = 0;
    if (!m_file)
        fail("cannot write");
}

void TraceFile::chunk(TrafficDirection direction, const std::string& client, const char* data,
                      std::size_t size)
{
    if (!m_file)
        return;
    TrafficRecord r;
    r.usec = nowUsec();
    r.direction = direction;
    r.client = client;
    r.bytes.assign(data, size);
    r.size = size;
    const std::string text = formatRecord(r);
    // A record never straddles two files; one larger than the bound gets
    // a file of its own.
    if (m_size > 0 && m_size + text.size() > m_bound) {
        rotate();
        if (!m_file)
            return;
    }
    if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size() || std::fflush(m_file) != 0) {
        fail("cannot write");
        return;
    }
    m_size += text.size();
}

}  // namespace lintrel
