// The capture file: opened for appending (created when missing), written
// in whatever pieces the terminal hands it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qelcomm::terminal {

class CaptureFile {
public:
    CaptureFile() = default;
    ~CaptureFile() { close(); }
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    bool open(const std::string& path);
    void close();
    bool isOpen() const { return m_file != nullptr; }
    void write(const std::uint8_t* bytes, std::size_t n);
    // A row's text, then CR LF.
    void writeRow(const std::string& text);

private:
    std::FILE* m_file = nullptr;
};

}  // namespace qelcomm::terminal
