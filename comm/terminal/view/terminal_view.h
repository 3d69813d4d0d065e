// The terminal view: a widget that paints one comm object's terminal with
// a fixed-pitch font, in the 16 PC colours or, in the extended rendition,
// in its indexed and true colours with the default colours of the
// widget's palette (so a light or dark theme shows), with scroll bars over
// the scroll-back, mouse selection, and keys sent through the
// keyboard-send path. Painting only reads the model; changed rows are
// repainted in batches when the terminal asks for a repaint. With
// AutoSize_Screen the screen's columns and rows follow the view's size.
#pragma once

#include "qelcomm.h"
#include "terminal.h"

#include <QAbstractScrollArea>

#include <memory>
#include <string>

namespace qelcomm::terminal {

class TerminalView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TerminalView(QcHandle object, QWidget* parent = nullptr);
    ~TerminalView() override;

    QcHandle object() const { return m_object; }
    QSize cellSize() const { return {m_cellWidth, m_cellHeight}; }
    // The widget size that shows the whole screen (AutoSize_Terminal).
    QSize terminalSize() const;
    QSize sizeHint() const override { return terminalSize(); }
    // The screen cell under a point of the viewport, in view rows.
    CellPos cellAt(QPoint p) const;

    // Takes the font of the object's window now (after the control's font
    // changed), refits the screen and repaints.
    void refreshFont();
    // The view's font with its face named, the regular one unless the font
    // is bold or italic: what a font dialog should start on.
    QFont dialogFont() const;

public slots:
    // Repaints the rows changed since the last repaint.
    void flushRepaint();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void scrollContentsBy(int dx, int dy) override;
    void focusInEvent(QFocusEvent*) override;
    void focusOutEvent(QFocusEvent*) override;
    void changeEvent(QEvent*) override;
    bool focusNextPrevChild(bool) override { return false; }  // Tab goes to the port

private:
    void syncScrollBars();
    // Takes the font of the object's window when it changed.
    void applyWindowFont();
    void applyAutoSize();
    // AutoSize_Screen: the screen takes as many cells as the viewport holds.
    void fitScreenToView();
    struct Look {
        QColor fg, bg;
        std::uint8_t flags;
    };
    Look lookOf(const Cell& cell, bool selected) const;
    QColor colorOf(std::uint32_t color, int pcNibble, bool foreground) const;
    const QFont& fontFor(std::uint8_t flags) const;
    bool handleViewKey(QKeyEvent* e);

    QcHandle m_object;
    std::shared_ptr<Terminal> m_terminal;
    TerminalHost m_savedHost;
    int m_cellWidth = 8, m_cellHeight = 16, m_ascent = 12;
    int m_underline = 2, m_strike = 4, m_lineWidth = 1;   // offsets from the baseline
    QFont m_bold, m_italic, m_boldItalic;
    bool m_syncing = false;
    bool m_fitting = false;
    bool m_selecting = false;
    CellPos m_dragAnchor;  // where the press put the anchor; the end follows the mouse
    std::int32_t m_appliedAutoSize = -1;
    QSize m_appliedSize;
    std::string m_fontKey;  // the window font last applied
    bool m_fontApplied = false;
};

}  // namespace qelcomm::terminal
