// A session's trace file for the windowless mode: every chunk that crosses
// the session, in the traffic monitor's text form, appended to
// <folder>/session<N>-COMn.trace.  At the size bound the file becomes
// .1 (the older ones .2 and .3, the oldest dropped) and a new one starts.
// A file that cannot be written is told once; the session goes on.
#pragma once

#include "session_counters.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace lintrel {

class TraceFile : public TrafficTap {
public:
    static constexpr int kKeep = 3;   // rotated files kept beside the current one
    static constexpr std::uint64_t kDefaultBound = 16u << 20;

    TraceFile(std::string path, std::uint64_t bound, std::function<void(const std::string&)> onError);
    ~TraceFile() override;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    // Opens (appends to) the file; false after telling why.
    bool open();
    bool failed() const { return m_failed; }
    const std::string& path() const { return m_path; }

    void chunk(TrafficDirection direction, const std::string& client, const char* data,
               std::size_t size) override;

private:
    void rotate();
    void fail(const std::string& what);

    std::string m_path;
    std::uint64_t m_bound;
    std::function<void(const std::string&)> m_onError;
    std::FILE* m_file = nullptr;
    std::uint64_t m_size = 0;
    bool m_failed = false;
};

}  // namespace lintrel
