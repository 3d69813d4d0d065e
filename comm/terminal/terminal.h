// One comm object's terminal: the screen model with cursor, colour and
// modes, the interpreters that act on it, the scroll-back, the screen text,
// the selection, the capture file and the view's origin. No port I/O and
// no widgets: answers, echo switching, beeps and repaint requests leave
// through the host callbacks.
#pragma once

#include "capture_file.h"
#include "parser.h"
#include "screen.h"
#include "terminal_types.h"
#include "utf8.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qelcomm::terminal {

struct TerminalHost {
    std::function<void(const std::uint8_t*, std::size_t)> answer;  // to the port, not echoed
    std::function<void(bool on)> setEcho;
    std::function<void()> beep;
    std::function<void()> postRepaint;  // once per batch of changes
    std::function<void()> repaintNow;
};

struct CellPos {
    int row = 0;     // negative: scroll-back rows (-1 the newest)
    int column = 0;
};

class Terminal : private ParserActions {
public:
    Terminal();
    ~Terminal() override;

    TerminalHost host;

    // Display entry: every byte shown on the terminal passes here.
    void write(const std::uint8_t* bytes, std::size_t n);
    void write(std::string_view s) { write(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }

    // Settings.
    void setEmulation(std::int32_t e);
    std::int32_t emulation() const { return m_emulation; }
    bool hasScreen() const { return m_screen.allocated(); }
    bool setColumns(int n) { return resize(n, m_screen.rows()); }
    bool setRows(int n) { return resize(m_screen.columns(), n); }
    bool resize(int columns, int rows);
    // A new size for a view that fits its screen to the window: when rows
    // go, the rows above the cursor leave into the scroll-back first, so
    // that the cursor's row stays; when rows come, scroll-back rows come
    // back above the screen's.
    bool fit(int columns, int rows);
    int columns() const { return m_screen.columns(); }
    int rows() const { return m_screen.rows(); }
    // The current colour; it also ends any extended colours and looks.
    void setColor(std::uint8_t a);
    std::uint8_t color() const { return m_color; }
    // The cell a space printed now would be.
    Cell pen() const { return {' ', m_color, m_penFlags, m_penFg, m_penBg}; }
    // Switching to UTF-8 turns the screen's bytes into the characters they
    // show; switching back turns characters the PC set lacks into "?".
    void setCharacterSet(std::int32_t c);
    std::int32_t characterSet() const { return m_charset; }
    bool utf8() const { return m_charset == CharacterSet_Utf8; }
    // Switching to the extended rendition gives the cells in the colour
    // setColor gave (a fresh screen's) the default colours, and the pen too.
    void setRendition(std::int32_t r);
    std::int32_t rendition() const { return m_rendition; }
    void setEndOfLineMode(std::int32_t m) { m_eol = m; }
    std::int32_t endOfLineMode() const { return m_eol; }
    void setBackspace(std::int32_t m) { m_backspace = m; }
    std::int32_t backspace() const { return m_backspace; }
    void setCursorRow(int r);
    void setCursorColumn(int c);
    int cursorRow() const { return m_row; }
    int cursorColumn() const { return m_col; }
    void setTranslationTable(const std::uint8_t table[256]);
    void translationTable(std::uint8_t table[256]) const;

    bool lineDrawing() const { return m_lineDrawing; }
    bool keypadFlag() const { return m_keypad; }
    bool originFlag() const { return m_origin; }
    int regionTop() const { return m_regionTop; }
    int regionBottom() const { return m_regionBottom; }
    const Screen& screen() const { return m_screen; }

    // Scroll-back; 0 on success, -1 when memory cannot be had.
    int setScrollRows(int n);
    int scrollRows() const { return m_screen.scrollRows(); }

    // Screen text: rows without trailing spaces, CR LF each; the text stops
    // before a row that would reach size (at most 65535).
    std::string contents(std::size_t size = 65535) const;
    std::string scrollContents(std::size_t size = 65535) const;
    // A form feed, then the bytes.
    void setContents(const std::uint8_t* bytes, std::size_t n);

    // Selection, positions counted as row x columns + column.
    int setSelectionStart(int i);
    int setSelectionLength(int n);
    int selectionStart() const;
    int selectionLength() const;
    std::string selectionText(std::size_t size = 65535) const;
    int selectedRows() const;
    CellPos selectionAnchor() const { return m_anchor; }
    CellPos selectionEnd() const { return m_end; }
    // Mouse selection: anchor and end in view rows; swapped when the end
    // precedes the anchor.
    void setSelection(CellPos anchor, CellPos end);

    // Capture.
    bool setCaptureFilename(const std::string& name);
    void setCaptureMode(std::int32_t m) { m_captureMode = m; }
    std::int32_t captureMode() const { return m_captureMode; }
    bool capturing() const { return m_capture.isOpen(); }

    // Display values the view applies.
    void setColorFilter(std::int32_t f) { m_colorFilter = f; }
    std::int32_t colorFilter() const { return m_colorFilter; }
    void setAutoSize(std::int32_t v) { m_autoSize = v; }
    std::int32_t autoSize() const { return m_autoSize; }
    void setAutoScroll(std::int32_t v) { m_autoScroll = v; }
    std::int32_t autoScroll() const { return m_autoScroll; }
    void setScrollBars(bool horizontal, bool vertical) { m_hBar = horizontal; m_vBar = vertical; }
    bool horizontalScrollBar() const { return m_hBar; }
    bool verticalScrollBar() const { return m_vBar; }

    // The view's origin and extent in cells; viewTop is negative while the
    // view shows scroll-back rows.
    int viewTop() const { return m_viewTop; }
    int viewLeft() const { return m_viewLeft; }
    void setViewExtent(int visibleColumns, int visibleRows);
    void setViewOrigin(int top, int left);
    // Moves the view so that the cursor shows, as the automatic-scroll value
    // asks (afterKeys: the follow after a key); always brings the cursor row
    // into view when forceRow.
    void followCursor(bool afterKeys, bool forceRow = false);

    // Rows changed since the last takeDirty(); first > last when none.
    int dirtyFirst() const { return m_dirtyFirst; }
    int dirtyLast() const { return m_dirtyLast; }
    void takeDirty(int* first, int* last);
    bool repaintPending() const { return m_repaintPending; }

    std::size_t pendingSequence() const { return m_parser.pending(); }

private:
    // ParserActions.
    void text(const std::uint8_t* bytes, std::size_t n) override;
    void controlSequence(std::string_view body) override;
    void escape(std::uint8_t command, std::uint8_t arg) override;
    void vt52(std::uint8_t command, std::uint8_t a, std::uint8_t b) override;

    void printChar(char32_t c);
    void extendedRendition(std::string_view text);
    void updateColor();
    Cell blank() const { return {' ', m_color, std::uint8_t(m_penFlags & Cell_Inverse), m_penFg, m_penBg}; }
    void endCharacter();
    void shiftRowsOut(int n);
    void lineFeed();
    void scrollLine();
    void reverseIndex();
    void formFeed();
    void pushRows(int n);
    void graphicRendition(const int* p, int count);
    void answer(std::string_view s);
    void markDirty(int row);
    void markAllDirty() { markDirty(0); markDirty(m_screen.rows() - 1); }
    void repaintNow();
    bool hasRegion() const { return m_regionTop != 0 || m_regionBottom != 0; }
    void clampCursor();

    Screen m_screen;
    Parser m_parser;
    CaptureFile m_capture;
    std::int32_t m_emulation = Emulation_None;
    std::uint8_t m_color = kDefaultColor;
    std::uint8_t m_baseColor = kDefaultColor;   // the colour of ColorKind_Pc
    std::uint8_t m_penFlags = 0;
    std::uint32_t m_penFg = ColorKind_Pc, m_penBg = ColorKind_Pc;
    std::int32_t m_charset = CharacterSet_CodePage;
    std::int32_t m_rendition = Rendition_PC;
    Utf8Decoder m_decoder;
    std::int32_t m_eol = EndOfLineMode_NextLine;
    std::int32_t m_backspace = BackSpace_NonDestructive;
    std::int32_t m_captureMode = Capture_Standard;
    std::int32_t m_colorFilter = ColorFilter_Full;
    std::int32_t m_autoSize = AutoSize_None;
    std::int32_t m_autoScroll = kDefaultAutoScroll;
    int m_row = 0, m_col = 0;
    int m_savedRow = 0, m_savedCol = 0;
    int m_regionTop = 0, m_regionBottom = 0;
    bool m_lineDrawing = false;
    bool m_keypad = true;
    bool m_origin = false;
    bool m_hBar = true, m_vBar = true;
    std::array<std::uint8_t, 256> m_translation{};
    CellPos m_anchor, m_end;
    int m_viewTop = 0, m_viewLeft = 0;
    int m_viewColumns = 0, m_viewRows = 0;  // 0: the whole screen shows
    int m_dirtyFirst = 1, m_dirtyLast = 0;
    bool m_repaintPending = false;
};

}  // namespace qelcomm::terminal
