#include "render.h"

#include "qelcomm_terminal.h"
#include "terminal_registry.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace qelterm {

std::string renderScreen(const Options& o, const std::string& bytes)
{
    const QcHandle object = CreateCommObject(0);
    if (!object)
        return {};
    SetEmulation(object, o.emulation);
    SetColumns(object, o.columns);
    SetRows(object, o.rows);
    SetEndOfLineMode(object, o.endOfLine);
    SetCharacterSet(object, o.charset);
    SetRendition(object, o.rendition);
    // No port: answers to the far end are dropped.
    TerminalWrite(object, bytes.data(), std::int32_t(bytes.size()));

    std::string out;
    std::vector<char> buffer(65536);
    const int n = GetContents(object, buffer.data(), std::int32_t(buffer.size()));
    for (int i = 0; i < n; ++i)
        if (buffer[std::size_t(i)] != '\r')
            out += buffer[std::size_t(i)];
    if (o.attributes) {
        out += '\n';
        const auto t = qelcomm::terminal::terminalOf(object);
        char hex[4];
        for (int r = 0; r < t->rows(); ++r) {
            const qelcomm::terminal::Cell* cells = t->screen().row(r);
            for (int c = 0; c < t->columns(); ++c) {
                std::snprintf(hex, sizeof hex, c ? " %02x" : "%02x", cells[c].attr);
                out += hex;
            }
            out += '\n';
        }
    }
    out += "cursor " + std::to_string(GetCursorRow(object)) + " " + std::to_string(GetCursorColumn(object)) + "\n";
    DestroyCommObject(object);
    return out;
}

int runRender(const Options& o)
{
    std::string bytes;
    if (o.file == "-") {
        std::ostringstream s;
        s << std::cin.rdbuf();
        bytes = s.str();
    } else {
        std::error_code ec;
        std::ifstream in(o.file, std::ios::binary);
        if (!in || std::filesystem::is_directory(o.file, ec)) {
            std::cerr << "qelterm: cannot read " << o.file << "\n";
            return 2;
        }
        bytes.assign(std::istreambuf_iterator<char>(in), {});
        if (in.bad()) {
            std::cerr << "qelterm: cannot read " << o.file << "\n";
            return 2;
        }
    }
    std::cout << renderScreen(o, bytes);
    std::cout.flush();
    return 0;
}

}  // namespace qelterm
