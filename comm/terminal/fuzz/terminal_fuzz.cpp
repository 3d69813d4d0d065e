// libFuzzer target: arbitrary bytes through each interpreter, split into
// several writes, with the screen text, selection and resizing in between.
// The first bytes choose the emulation, the end-of-line mode, the character
// set, the rendition, the size and where the input is split; fitting the
// screen to a window and switching the character set happen on the way.
#include "terminal.h"

#include <cstddef>
#include <cstdint>

using namespace qelcomm::terminal;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    Terminal t;
    t.host.answer = [](const std::uint8_t*, std::size_t) {};
    t.host.setEcho = [](bool) {};
    t.resize(1 + data[2] % 140, 1 + data[3] % 60);
    t.setScrollRows(data[2] % 8);
    t.setEmulation(1 + data[0] % 4);
    t.setEndOfLineMode(data[1] % 4);
    t.setBackspace((data[1] >> 2) & 1);
    t.setCharacterSet((data[0] >> 3) & 1);
    t.setRendition((data[0] >> 4) & 1);
    t.setCaptureMode(Capture_Visible);
    const std::size_t step = 1 + (data[1] >> 3);
    data += 4;
    size -= 4;
    for (std::size_t at = 0; at < size; at += step) {
        const std::size_t n = size - at < step ? size - at : step;
        t.write(data + at, n);
        t.setSelectionStart(int(data[at]) * 7);
        t.setSelectionLength(int(data[at + n - 1]) * 3);
        (void)t.selectionText();
        (void)t.contents();
        if ((data[at] & 0x1F) == 0x1F)
            t.fit(1 + data[at + n - 1] % 100, 1 + data[at] % 40);
        if (data[at] == 0xFE)
            t.setCharacterSet(!t.utf8());
    }
    (void)t.scrollContents();
    t.resize(1 + size % 90, 1 + size % 30);
    (void)t.contents();
    return 0;
}
