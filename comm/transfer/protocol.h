// What a transfer protocol sees of the world, and the machinery that lets
// it be written as straight-line code while staying a state machine that is
// fed bytes.
//
// A protocol is a coroutine. It suspends only where it waits for the next
// byte from the far end, and says how long it is willing to wait; whoever
// drives it (the transfer thread over a port, a test table, a fuzzer) hands
// it that byte with feed() or reports that the wait ran out with timeout().
// Everything else it does - writing bytes, file operations, reports to the
// engine - goes synchronously through ProtocolHost.
#pragma once

#include <coroutine>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace xfer {

class FileSource {
public:
    virtual ~FileSource() = default;
    virtual std::uint64_t size() const = 0;
    // Up to n bytes; 0 at the end of the file or on an error.
    virtual std::size_t read(std::uint8_t* buffer, std::size_t n) = 0;
};

class FileSink {
public:
    virtual ~FileSink() = default;
    // False unless all n bytes were written.
    virtual bool write(const std::uint8_t* bytes, std::size_t n) = 0;
    virtual bool close() = 0;
};

// The names of the file about to move: the protocol proposes, the engine
// decides (queued names, the transfer folder, the container's handler).
struct FileNames {
    std::string source;
    std::string destination;
    // A receiver sets these when the sender asked to resume a file an
    // earlier, broken transfer left behind. The engine keeps resume set only
    // when it settled on that existing file and it is not longer than size.
    bool resume = false;
    std::uint64_t size = 0;
};

class ProtocolHost {
public:
    virtual ~ProtocolHost() = default;

    // The line.
    virtual bool write(const std::uint8_t* bytes, std::size_t n) = 0;
    virtual void drainOutput() = 0;
    virtual void discardInput() = 0;

    // The engine.
    virtual bool abortRequested() = 0;          // the user or the container cancelled
    virtual void cancelTransfer() = 0;          // the protocol gives the transfer up
    virtual void message(std::string_view text) = 0;
    virtual void prepare(FileNames& names, bool sending) = 0;
    virtual void fileSize(std::uint64_t size) = 0;
    virtual void progress(std::uint64_t bytes, std::uint32_t blockSize) = 0;
    virtual void fileEnded(bool ok) = 0;
    virtual void clearFields() = 0;

    // Files, by the names prepare() settled on.
    virtual std::unique_ptr<FileSource> openSource(const std::string& path) = 0;
    virtual std::unique_ptr<FileSink> createSink(const std::string& path) = 0;
    // The line's speed in bits per second, 0 when unknown.
    virtual std::uint32_t lineBaud() { return 0; }
    // A break condition on the line, from on until off, after what was
    // written so far; and a wait that holds the line as it is.
    virtual void setBreak(bool) {}
    virtual void pause(std::uint32_t) {}
    // An existing file opened to append to, with its length; null when
    // there is none to resume.
    virtual std::unique_ptr<FileSink> appendSink(const std::string&, std::uint64_t& length)
    {
        length = 0;
        return nullptr;
    }
};

// A coroutine returning an int that another one can co_await.
class Task {
public:
    struct promise_type {
        int value = 0;
        std::coroutine_handle<> continuation;

        Task get_return_object() { return Task(std::coroutine_handle<promise_type>::from_promise(*this)); }
        std::suspend_always initial_suspend() noexcept { return {}; }
        auto final_suspend() noexcept
        {
            struct Resume {
                bool await_ready() noexcept { return false; }
                std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept
                {
                    auto next = h.promise().continuation;
                    return next ? next : std::noop_coroutine();
                }
                void await_resume() noexcept {}
            };
            return Resume{};
        }
        void return_value(int v) { value = v; }
        void unhandled_exception() { std::terminate(); }
    };

    Task() = default;
    explicit Task(std::coroutine_handle<promise_type> h) : m_h(h) {}
    Task(Task&& other) noexcept : m_h(std::exchange(other.m_h, {})) {}
    Task& operator=(Task&& other) noexcept
    {
        if (this != &other) {
            if (m_h)
                m_h.destroy();
            m_h = std::exchange(other.m_h, {});
        }
        return *this;
    }
    ~Task()
    {
        if (m_h)
            m_h.destroy();
    }

    bool done() const { return !m_h || m_h.done(); }
    int value() const { return m_h ? m_h.promise().value : 0; }
    void start() { m_h.resume(); }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> caller) noexcept
    {
        m_h.promise().continuation = caller;
        return m_h;
    }
    int await_resume() const { return m_h.promise().value; }

private:
    std::coroutine_handle<promise_type> m_h;
};

// Base of every protocol: keeps the wait it is suspended in.
class ByteMachine {
public:
    virtual ~ByteMachine() = default;

    // Runs the protocol up to its first wait.
    void start()
    {
        m_task = run();
        m_task.start();
    }
    bool done() const { return m_task.done(); }
    // 0 when the transfer went through, nonzero when it failed.
    int result() const { return m_task.value(); }
    // How long the protocol waits for the next byte, in milliseconds.
    std::uint32_t timeoutMs() const { return m_timeoutMs; }

    void feed(std::uint8_t byte) { resumeWith(byte); }
    void timeout() { resumeWith(-1); }

protected:
    virtual Task run() = 0;

    struct ReadByte {
        ByteMachine* machine;
        std::uint32_t ms;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> h) noexcept
        {
            machine->m_waiting = h;
            machine->m_timeoutMs = ms;
        }
        int await_resume() const noexcept { return machine->m_input; }
    };
    // co_await readByte(ms): the next byte, or -1 when ms passed without one.
    ReadByte readByte(std::uint32_t ms) { return ReadByte{this, ms}; }

private:
    void resumeWith(int input)
    {
        if (done() || !m_waiting)
            return;
        m_input = input;
        auto h = std::exchange(m_waiting, {});
        h.resume();
    }

    Task m_task;
    std::coroutine_handle<> m_waiting;
    std::uint32_t m_timeoutMs = 0;
    int m_input = -1;
};

}  // namespace xfer
