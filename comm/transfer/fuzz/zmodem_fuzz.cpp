// Arbitrary bytes from the far end into the ZModem receiver: headers and
// subpackets with bad checks, oversized subpackets, endless garbage. The
// first byte picks the line speed (and so the garbage limit), the second,
// bit by bit, where waits run out instead of a byte arriving.
#include "zmodem.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

class NullSink : public xfer::FileSink {
public:
    bool write(const std::uint8_t*, std::size_t n) override { return (written += n) < (64u << 20); }
    bool close() override { return true; }
    std::size_t written = 0;
};

class FuzzHost : public xfer::ProtocolHost {
public:
    bool write(const std::uint8_t*, std::size_t n) override { return (sent += n) < (256u << 20); }
    void drainOutput() override {}
    void discardInput() override {}
    bool abortRequested() override { return false; }
    void cancelTransfer() override {}
    void message(std::string_view text) override { last = std::string(text); }
    void prepare(xfer::FileNames& names, bool) override
    {
        if (names.destination.empty())
            names.destination = "UNTITLED.000";
    }
    void fileSize(std::uint64_t) override {}
    void progress(std::uint64_t, std::uint32_t) override {}
    void fileEnded(bool) override {}
    void clearFields() override {}
    std::unique_ptr<xfer::FileSource> openSource(const std::string&) override { return nullptr; }
    std::unique_ptr<xfer::FileSink> createSink(const std::string&) override { return std::make_unique<NullSink>(); }
    std::unique_ptr<xfer::FileSink> appendSink(const std::string&, std::uint64_t& length) override
    {
        length = 1000;
        return std::make_unique<NullSink>();
    }
    std::string last;
    std::size_t sent = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    FuzzHost host;
    const int baud = data[0] < 128 ? 300 : 115200;
    xfer::ZModem rx(host, false, baud);
    const std::uint8_t timeouts = data[1];
    rx.start();
    for (std::size_t i = 2; i < size && !rx.done(); ++i) {
        if ((timeouts >> (i % 8)) & 1 && data[i] == 0xFF)
            rx.timeout();
        else
            rx.feed(data[i]);
    }
    // Then the line goes quiet: the receiver must give up in bounded time.
    for (int i = 0; i < 2000 && !rx.done(); ++i)
        rx.timeout();
    if (!rx.done())
        __builtin_trap();
    return 0;
}
