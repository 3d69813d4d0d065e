#include "terminal_view.h"

#include "color_filter.h"
#include "cp437.h"
#include "terminal_registry.h"
#include "win/win.h"
#include "automation/automation.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace qelcomm::terminal {
namespace {

QColor rgb(std::uint32_t v) { return QColor(int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)); }

// The 16 PC colours in TerminalColor order.
QColor pcColor(int pc) { return rgb(pcRgb(pc)); }

QColor blend(const QColor& a, const QColor& b)
{
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

// What a cell shows: control codes as the PC set's symbols, as before.
QString glyph(char32_t c, bool utf8)
{
    if (!utf8 || c < 0x20 || c == 0x7F)
        return QString(QChar(kCp437[c & 0xFF]));
    return QString::fromUcs4(&c, 1);
}

bool selected(const Terminal& t, int row, int column)
{
    const CellPos a = t.selectionAnchor(), e = t.selectionEnd();
    if (row < a.row || row > e.row)
        return false;
    if (row == a.row && column < a.column)
        return false;
    if (row == e.row && column >= e.column)
        return false;
    return true;
}

std::optional<Key> keyOf(const QKeyEvent* e)
{
    const bool keypad = e->modifiers() & Qt::KeypadModifier;
    if (keypad && e->key() >= Qt::Key_0 && e->key() <= Qt::Key_9)
        return Key(int(Key::Keypad0) + (e->key() - Qt::Key_0));
    switch (e->key()) {
    case Qt::Key_Left: return Key::Left;
    case Qt::Key_Up: return Key::Up;
    case Qt::Key_Right: return Key::Right;
    case Qt::Key_Down: return Key::Down;
    case Qt::Key_Backspace: return Key::Backspace;
    case Qt::Key_Home: return Key::Home;
    case Qt::Key_F1: return Key::F1;
    case Qt::Key_F2: return Key::F2;
    case Qt::Key_F3: return Key::F3;
    case Qt::Key_F4: return Key::F4;
    default: return std::nullopt;
    }
}

}  // namespace

TerminalView::TerminalView(QcHandle object, QWidget* parent)
    : QAbstractScrollArea(parent), m_object(object), m_terminal(terminalOf(object))
{
    applyWindowFont();
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    if (m_terminal) {
        m_savedHost = m_terminal->host;
        m_terminal->host.postRepaint = [this] {
            QMetaObject::invokeMethod(this, &TerminalView::flushRepaint, Qt::QueuedConnection);
        };
        m_terminal->host.repaintNow = [this] { flushRepaint(); };
        m_terminal->host.beep = [] { QApplication::beep(); };
    }
    syncScrollBars();
}

TerminalView::~TerminalView()
{
    if (m_terminal) {
        TerminalHost& h = m_terminal->host;
        h.postRepaint = m_savedHost.postRepaint;
        h.repaintNow = m_savedHost.repaintNow;
        h.beep = m_savedHost.beep;
    }
}

QSize TerminalView::terminalSize() const
{
    if (!m_terminal)
        return {80 * m_cellWidth, 25 * m_cellHeight};
    int w = m_terminal->columns() * m_cellWidth + 2 * frameWidth();
    const int h = m_terminal->rows() * m_cellHeight + 2 * frameWidth();
    if (m_terminal->scrollRows() > 0)
        w += verticalScrollBar()->sizeHint().width();
    return {w, h};
}

CellPos TerminalView::cellAt(QPoint p) const
{
    CellPos c;
    if (!m_terminal)
        return c;
    const int top = m_terminal->viewTop();
    c.row = std::clamp(p.y() / m_cellHeight + top, top, m_terminal->rows() - 1);
    c.column = std::clamp((std::max(0, p.x()) + m_terminal->viewLeft() * m_cellWidth) / m_cellWidth, 0, m_terminal->columns());
    return c;
}

void TerminalView::applyWindowFont()
{
    // The font the control handed to the object's window (WM_SETFONT), else
    // the system's fixed font. A face that does not exist here, or is not
    // fixed-pitch, is replaced by the fixed font at the same size, since
    // the screen is a grid of equal cells.
    const auto* desc = reinterpret_cast<const lt::automation::FontDesc*>(win::sendMessage(m_object, win::WM_GETFONT, 0, 0));
    const std::string key = desc ? desc->name + "/" + std::to_string(desc->size) + "/" + std::to_string(desc->weight) +
                                       (desc->italic ? "i" : "") + (desc->underline ? "u" : "") +
                                       (desc->strikethrough ? "s" : "")
                                 : std::string();
    if (m_fontApplied && key == m_fontKey)
        return;
    m_fontApplied = true;
    m_fontKey = key;
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (desc) {
        QFont wanted(QString::fromUtf8(desc->name.c_str()));
        wanted.setStyleHint(QFont::TypeWriter);
        wanted.setFixedPitch(true);
        if (QFontInfo(wanted).fixedPitch())
            font = wanted;
        if (desc->size > 0)
            font.setPointSizeF(desc->size / 10000.0);
        font.setWeight(QFont::Weight(std::clamp<int>(desc->weight / 10 * 10, 100, 900)));
        font.setItalic(desc->italic);
        font.setUnderline(desc->underline);
        font.setStrikeOut(desc->strikethrough);
    }
    font.setStyleHint(QFont::TypeWriter);
    if (!QFontInfo(font).fixedPitch()) {
        // The system's monospace alias may name a face Qt does not take as
        // fixed pitch (Noto Sans Mono, for one): use a family that is.
        const QStringList families = QFontDatabase::families();
        const QString preferred[] = {"DejaVu Sans Mono", "Liberation Mono", "Noto Mono"};
        QString fixed;
        for (const QString& f : preferred)
            if (families.contains(f) && QFontDatabase::isFixedPitch(f)) {
                fixed = f;
                break;
            }
        for (int i = 0; fixed.isEmpty() && i < families.size(); ++i)
            if (QFontDatabase::isFixedPitch(families[i]) && !QFontDatabase::isBitmapScalable(families[i]))
                fixed = families[i];
        if (!fixed.isEmpty())
            font.setFamily(fixed);
    }
    setFont(font);
    // The extended rendition's faces; underline and strike-through are
    // drawn as lines across whole cells.
    QFont plain = font;
    plain.setUnderline(false);
    plain.setStrikeOut(false);
    m_bold = plain;
    m_bold.setWeight(QFont::Bold);
    m_italic = plain;
    m_italic.setItalic(true);
    m_boldItalic = m_bold;
    m_boldItalic.setItalic(true);
    const QFontMetrics fm(font);
    m_cellWidth = std::max(1, fm.horizontalAdvance(QLatin1Char('x')));
    m_cellHeight = std::max(1, fm.height());
    m_ascent = fm.ascent();
    m_underline = std::min(fm.underlinePos(), std::max(0, fm.descent() - 1));
    m_strike = fm.strikeOutPos();
    m_lineWidth = std::max(1, fm.lineWidth());
    updateGeometry();
    viewport()->update();
}

void TerminalView::refreshFont()
{
    m_fontApplied = false;
    applyWindowFont();
    if (!m_terminal)
        return;
    fitScreenToView();
    applyAutoSize();
    syncScrollBars();
    viewport()->repaint();
}

QFont TerminalView::dialogFont() const
{
    QFont f = font();
    const QStringList styles = QFontDatabase::styles(f.family());
    QString best;
    int bestDistance = 0;
    for (const QString& style : styles) {
        // Oblique counts as italic here (QFontDatabase::italic says no).
        const QFont face = QFontDatabase::font(f.family(), style, 10);
        if (face.italic() != f.italic())
            continue;
        const int distance = std::abs(face.weight() - f.weight());
        if (best.isEmpty() || distance < bestDistance) {
            best = style;
            bestDistance = distance;
        }
    }
    if (!best.isEmpty())
        f.setStyleName(best);
    return f;
}

void TerminalView::flushRepaint()
{
    applyWindowFont();
    if (!m_terminal)
        return;
    int first, last;
    m_terminal->takeDirty(&first, &last);
    applyAutoSize();
    syncScrollBars();
    if (first > last)
        return;
    const int top = m_terminal->viewTop();
    const QRect rows(0, (first - top) * m_cellHeight, viewport()->width(), (last - first + 1) * m_cellHeight);
    viewport()->update(rows.intersected(viewport()->rect()));
}

void TerminalView::applyAutoSize()
{
    const std::int32_t mode = m_terminal->autoSize();
    QSize want;
    if (mode == AutoSize_Terminal)
        want = terminalSize();
    else if (mode == AutoSize_Parent && parentWidget())
        want = parentWidget()->contentsRect().size();
    if (mode != AutoSize_None && want.isValid() && (mode != m_appliedAutoSize || want != m_appliedSize))
        resize(want);
    const bool newlyFitting = mode == AutoSize_Screen && m_appliedAutoSize != mode;
    m_appliedAutoSize = mode;
    m_appliedSize = want;
    if (newlyFitting)
        fitScreenToView();
}

void TerminalView::fitScreenToView()
{
    if (!m_terminal || m_terminal->autoSize() != AutoSize_Screen || m_fitting)
        return;
    m_fitting = true;
    const int columns = std::max(1, viewport()->width() / m_cellWidth);
    int rows = std::max(1, viewport()->height() / m_cellHeight);
    if (!validSize(columns, rows))
        rows = std::max(1, (kMaxCells - 1) / columns);
    if (columns != m_terminal->columns() || rows != m_terminal->rows())
        fitScreen(m_object, columns, rows);
    m_fitting = false;
}

void TerminalView::syncScrollBars()
{
    if (!m_terminal || m_syncing)
        return;
    m_syncing = true;
    const int visibleRows = std::max(1, viewport()->height() / m_cellHeight);
    const int visibleColumns = std::max(1, viewport()->width() / m_cellWidth);
    m_terminal->setViewExtent(visibleColumns, visibleRows);
    QScrollBar* v = verticalScrollBar();
    v->setRange(-m_terminal->scrollRows(), std::max(0, m_terminal->rows() - visibleRows));
    v->setPageStep(visibleRows);
    v->setValue(m_terminal->viewTop());
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, std::max(0, m_terminal->columns() - visibleColumns));
    h->setPageStep(visibleColumns);
    h->setValue(m_terminal->viewLeft());
    if (m_terminal->autoSize() == AutoSize_Screen) {
        // The screen fits the width; a vertical bar that came and went
        // would change the width it fits.
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(m_terminal->verticalScrollBar() && m_terminal->scrollRows() > 0
                                       ? Qt::ScrollBarAlwaysOn
                                       : Qt::ScrollBarAlwaysOff);
    } else {
        setVerticalScrollBarPolicy(m_terminal->verticalScrollBar() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(m_terminal->horizontalScrollBar() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    }
    m_syncing = false;
}

void TerminalView::scrollContentsBy(int, int)
{
    if (!m_terminal || m_syncing)
        return;
    m_terminal->setViewOrigin(verticalScrollBar()->value(), horizontalScrollBar()->value());
    viewport()->update();
}

void TerminalView::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    fitScreenToView();
    syncScrollBars();
}

void TerminalView::changeEvent(QEvent* e)
{
    QAbstractScrollArea::changeEvent(e);
    // The default colours come from the palette.
    if (e->type() == QEvent::PaletteChange)
        viewport()->update();
}

QColor TerminalView::colorOf(std::uint32_t color, int pcNibble, bool foreground) const
{
    switch (colorKind(color)) {
    case ColorKind_Default: return palette().color(foreground ? QPalette::Text : QPalette::Base);
    case ColorKind_Indexed: return rgb(indexedRgb(int(color & 0xFF)));
    case ColorKind_Rgb: return rgb(color);
    default: return pcColor(pcNibble);
    }
}

// PC rendition, or a colour filter: the attribute byte's colours, inverted
// where selected. Extended: the cell's colours, bold making the first 8
// indexed colours bright as terminals do, the palette's highlight where
// selected.
TerminalView::Look TerminalView::lookOf(const Cell& cell, bool selected) const
{
    const Terminal& t = *m_terminal;
    const bool extended = t.rendition() == Rendition_Extended;
    const std::uint8_t flags = extended ? cell.flags : 0;
    if (!extended || t.colorFilter() != ColorFilter_Full) {
        std::uint8_t a = filterAttribute(cell.attr, t.colorFilter());
        if (selected)
            a = std::uint8_t(~a);
        return {pcColor(a & 15), pcColor(a >> 4), flags};
    }
    // The attribute holds the colours after inverse; the Pc kind wants them before.
    std::uint8_t a = cell.attr;
    if (flags & Cell_Inverse)
        a = std::uint8_t(a << 4 | a >> 4);
    std::uint32_t fgColor = cell.fg;
    if ((flags & Cell_Bold) && colorKind(fgColor) == ColorKind_Indexed && (fgColor & 0xFF) < 8)
        fgColor += 8;
    QColor fg = colorOf(fgColor, a & 15, true), bg = colorOf(cell.bg, a >> 4, false);
    if (flags & Cell_Faint)
        fg = blend(fg, bg);
    if (flags & Cell_Inverse)
        std::swap(fg, bg);
    if (flags & Cell_Hidden)
        fg = bg;
    if (selected) {
        fg = palette().color(QPalette::HighlightedText);
        bg = palette().color(QPalette::Highlight);
    }
    return {fg, bg, flags};
}

const QFont& TerminalView::fontFor(std::uint8_t flags) const
{
    const bool bold = flags & Cell_Bold, italic = flags & Cell_Italic;
    return bold && italic ? m_boldItalic : bold ? m_bold : italic ? m_italic : font();
}

void TerminalView::paintEvent(QPaintEvent* e)
{
    QPainter p(viewport());
    p.setFont(font());
    const QRect area = e->rect();
    if (!m_terminal || !m_terminal->hasScreen()) {
        p.fillRect(area, pcColor(0));
        return;
    }
    const Terminal& t = *m_terminal;
    const Screen& s = t.screen();
    const bool utf8 = t.utf8();
    const int top = t.viewTop(), left = t.viewLeft();
    const int firstRow = area.top() / m_cellHeight, lastRow = area.bottom() / m_cellHeight;
    const Look pen = lookOf(t.pen(), false);
    p.fillRect(area, pen.bg);
    // Faces and colours change seldom along a row.
    const QFont* painting = &font();
    QColor ink;
    for (int vr = firstRow; vr <= lastRow; ++vr) {
        const int row = top + vr;
        const Cell* cells = s.viewRow(row);
        if (!cells)
            continue;
        const int y = vr * m_cellHeight;
        for (int c = left; c < s.columns(); ++c) {
            const Cell& cell = cells[c];
            const bool wide = c + 1 < s.columns() && cells[c + 1].ch == kWideTail;
            const Look look = lookOf(cell, selected(t, row, c));
            const QRect box((c - left) * m_cellWidth, y, (wide ? 2 : 1) * m_cellWidth, m_cellHeight);
            p.fillRect(box, look.bg);
            if (wide)
                p.fillRect(box.adjusted(m_cellWidth, 0, 0, 0), lookOf(cells[c + 1], selected(t, row, c + 1)).bg);
            if (cell.ch != ' ' && cell.ch != kWideTail && !(look.flags & Cell_Hidden)) {
                const QFont& face = fontFor(look.flags);
                const QString text = glyph(cell.ch, utf8);
                // A wide glyph narrower than its two cells sits in their middle.
                const int inset = wide ? std::max(0, (box.width() - QFontMetrics(face).horizontalAdvance(text)) / 2) : 0;
                if (&face != painting) {
                    p.setFont(face);
                    painting = &face;
                }
                if (look.fg != ink) {
                    p.setPen(look.fg);
                    ink = look.fg;
                }
                p.drawText(box.left() + inset, y + m_ascent, text);
            }
            if (look.flags & Cell_Underline)
                p.fillRect(QRect(box.left(), y + m_ascent + m_underline, box.width(), m_lineWidth), look.fg);
            if (look.flags & Cell_Strike)
                p.fillRect(QRect(box.left(), y + m_ascent - m_strike, box.width(), m_lineWidth), look.fg);
            if (wide)
                ++c;
        }
    }
    // The caret: 2 pixels wide, one cell high, at the cursor.
    if (hasFocus() && t.cursorColumn() >= left) {
        const int x = (std::min(t.cursorColumn(), s.columns()) - left) * m_cellWidth;
        const int y = (t.cursorRow() - top) * m_cellHeight;
        p.fillRect(QRect(x, y, 2, m_cellHeight), pen.fg);
    }
}

void TerminalView::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
}

void TerminalView::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
}

// Keys the view handles itself: the scroll-back pages and Escape back to
// the screen.
bool TerminalView::handleViewKey(QKeyEvent* e)
{
    Terminal& t = *m_terminal;
    if (e->key() == Qt::Key_PageUp || e->key() == Qt::Key_PageDown) {
        const int page = std::max(1, verticalScrollBar()->pageStep());
        t.setViewOrigin(t.viewTop() + (e->key() == Qt::Key_PageUp ? -page : page), t.viewLeft());
    } else if (e->key() == Qt::Key_Escape && t.viewTop() < 0) {
        t.followCursor(false, true);
    } else {
        return false;
    }
    syncScrollBars();
    viewport()->update();
    return true;
}

void TerminalView::keyPressEvent(QKeyEvent* e)
{
    // A disabled comm object (the control's Enabled false) takes no input.
    if (!m_terminal || !win::isWindowEnabled(m_object)) {
        e->ignore();
        return;
    }
    if (handleViewKey(e))
        return;
    bool sent = false;
    if (const auto key = keyOf(e))
        sent = sendKey(m_object, *key, e->modifiers() & Qt::ControlModifier);
    // Ctrl with a letter is its control code, whatever text the platform gives.
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    if (!sent && ctrl && e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
        sent = sendTyped(m_object, std::string(1, char(e->key() - Qt::Key_A + 1)));
    else if (!sent && e->key() != Qt::Key_Backspace && !e->text().isEmpty())
        sent = sendTyped(m_object, (m_terminal->utf8() ? e->text().toUtf8() : e->text().toLatin1()).toStdString());
    if (!sent) {
        e->ignore();
        return;
    }
    syncScrollBars();
    viewport()->update();
}

void TerminalView::mousePressEvent(QMouseEvent* e)
{
    if (!m_terminal || e->button() != Qt::LeftButton || !win::isWindowEnabled(m_object))
        return QAbstractScrollArea::mousePressEvent(e);
    setFocus(Qt::MouseFocusReason);
    const CellPos at = cellAt(e->position().toPoint());
    if (!(e->modifiers() & Qt::ShiftModifier))
        m_dragAnchor = at;
    else if (!m_selecting)
        m_dragAnchor = m_terminal->selectionAnchor();
    m_terminal->setSelection(m_dragAnchor, at);
    m_selecting = true;
    viewport()->update();
}

void TerminalView::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_terminal || !m_selecting || !(e->buttons() & Qt::LeftButton))
        return;
    m_terminal->setSelection(m_dragAnchor, cellAt(e->position().toPoint()));
    viewport()->update();
}

void TerminalView::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        m_selecting = false;
}

}  // namespace qelcomm::terminal
