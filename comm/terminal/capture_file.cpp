#include "capture_file.h"

namespace qelcomm::terminal {

bool CaptureFile::open(const std::string& path)
{
    close();
    m_file = std::fopen(path.c_str(), "ab");
    return m_file != nullptr;
}

void CaptureFile::close()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

void CaptureFile::write(const std::uint8_t* bytes, std::size_t n)
{
    if (m_file && n) {
        std::fwrite(bytes, 1, n, m_file);
        // Flushed at once so a reader sees the capture while it runs.
        std::fflush(m_file);
    }
}

void CaptureFile::writeRow(const std::string& text)
{
    if (!m_file)
        return;
    const std::string row = text + "\r\n";
    write(reinterpret_cast<const std::uint8_t*>(row.data()), row.size());
}

}  // namespace qelcomm::terminal
