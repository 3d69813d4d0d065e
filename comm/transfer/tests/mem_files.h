// Files in memory for the protocol tables: a source reading a string, a
// sink appending to one (and noting when it was closed).
#pragma once

#include "protocol.h"

#include <algorithm>
#include <string>

namespace xfertest {

class MemSource : public xfer::FileSource {
public:
    explicit MemSource(std::string d) : m_data(std::move(d)) {}
    std::uint64_t size() const override { return m_data.size(); }
    std::size_t read(std::uint8_t* b, std::size_t n) override
    {
        n = std::min(n, m_data.size() - m_pos);
        std::copy_n(m_data.begin() + long(m_pos), n, b);
        m_pos += n;
        return n;
    }

private:
    std::string m_data;
    std::size_t m_pos = 0;
};

class MemSink : public xfer::FileSink {
public:
    explicit MemSink(std::string* d, bool* closed = nullptr) : m_data(d), m_closed(closed) {}
    bool write(const std::uint8_t* b, std::size_t n) override
    {
        m_data->append(reinterpret_cast<const char*>(b), n);
        return true;
    }
    bool close() override
    {
        if (m_closed)
            *m_closed = true;
        return true;
    }

private:
    std::string* m_data;
    bool* m_closed;
};

}  // namespace xfertest
