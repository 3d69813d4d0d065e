// A protocol host without a port: bytes written are kept, files live in
// memory, every report is recorded.
#pragma once

#include "protocol.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace xfertest {

class FakeHost : public xfer::ProtocolHost {
public:
    std::vector<std::uint8_t> written;
    std::vector<std::string> messages;
    std::vector<std::string> events;           // "size 5", "end ok", ...
    std::deque<std::string> sendQueue;          // names the sender is given
    std::map<std::string, std::string> files;   // name -> contents
    std::vector<std::string> prepared;          // destination names seen
    bool abort = false;
    bool cancelled = false;
    int discards = 0;

    bool write(const std::uint8_t* bytes, std::size_t n) override
    {
        written.insert(written.end(), bytes, bytes + n);
        return true;
    }
    void drainOutput() override {}
    void discardInput() override { ++discards; }
    bool abortRequested() override { return abort; }
    void cancelTransfer() override { cancelled = true; }
    void message(std::string_view text) override
    {
        if (!text.empty())
            messages.emplace_back(text);
    }
    void prepare(xfer::FileNames& names, bool sending) override
    {
        if (sending) {
            names.source = sendQueue.empty() ? std::string() : sendQueue.front();
            if (!sendQueue.empty())
                sendQueue.pop_front();
            names.destination = names.source;
        } else if (names.destination.empty()) {
            names.destination = "UNTITLED.000";
        }
        prepared.push_back(names.destination);
    }
    void fileSize(std::uint64_t size) override { events.push_back("size " + std::to_string(size)); }
    void progress(std::uint64_t, std::uint32_t) override {}
    void fileEnded(bool ok) override { events.push_back(ok ? "end ok" : "end failed"); }
    void clearFields() override {}

    std::unique_ptr<xfer::FileSource> openSource(const std::string& path) override;
    std::unique_ptr<xfer::FileSink> createSink(const std::string& path) override;

    // Takes what was written so far.
    std::vector<std::uint8_t> take()
    {
        std::vector<std::uint8_t> out;
        out.swap(written);
        return out;
    }
};

}  // namespace xfertest
