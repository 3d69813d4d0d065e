// Arbitrary bytes from the far end into the Kermit receiver. The first
// input byte says, bit by bit, where a wait runs out instead of a 0xFF
// byte arriving.
#include "kermit.h"

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
    bool write(const std::uint8_t* bytes, std::size_t n) override
    {
        // Whatever goes out must at least be a whole packet's worth.
        if (n < 6 || n > 200)
            __builtin_trap();
        last.assign(reinterpret_cast<const char*>(bytes), n);
        return true;
    }
    void drainOutput() override {}
    void discardInput() override {}
    bool abortRequested() override { return false; }
    void cancelTransfer() override {}
    void message(std::string_view text) override { note = std::string(text); }
    void prepare(xfer::FileNames& names, bool) override
    {
        if (names.destination.find('\0') != std::string::npos)
            __builtin_trap();
        if (names.destination.empty())
            names.destination = "UNTITLED.000";
    }
    void fileSize(std::uint64_t) override {}
    void progress(std::uint64_t, std::uint32_t) override {}
    void fileEnded(bool) override {}
    void clearFields() override {}
    std::unique_ptr<xfer::FileSource> openSource(const std::string&) override { return nullptr; }
    std::unique_ptr<xfer::FileSink> createSink(const std::string& name) override
    {
        if (name == "UNTITLED.001")
            return nullptr;
        return std::make_unique<NullSink>();
    }
    std::string last;
    std::string note;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    FuzzHost host;
    xfer::Kermit rx(host, false);
    const std::uint8_t timeouts = data[0];
    rx.start();
    for (std::size_t i = 1; i < size && !rx.done(); ++i) {
        if ((timeouts >> (i % 8)) & 1 && data[i] == 0xFF)
            rx.timeout();
        else
            rx.feed(data[i]);
    }
    // Then the line goes quiet: the receiver must give up in bounded time.
    for (int i = 0; i < 1000 && !rx.done(); ++i)
        rx.timeout();
    if (!rx.done())
        __builtin_trap();
    return 0;
}
