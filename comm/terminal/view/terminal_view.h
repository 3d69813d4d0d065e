// The terminal view: a widget that paints one comm object's terminal with
// a fixed-pitch font in the 16 PC colours, with scroll bars over the
// scroll-back, mouse selection, and keys sent through the keyboard-send
// path. Painting only reads the model; changed rows are repainted in
// batches when the terminal asks for a repaint.
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
    bool focusNextPrevChild(bool) override { return false; }  // Tab goes to the port

private:
    void syncScrollBars();
    // Takes the font of the object's window when it changed.
    void applyWindowFont();
    void applyAutoSize();
    bool handleViewKey(QKeyEvent* e);

    QcHandle m_object;
    std::shared_ptr<Terminal> m_terminal;
    TerminalHost m_savedHost;
    int m_cellWidth = 8, m_cellHeight = 16, m_ascent = 12;
    bool m_syncing = false;
    bool m_selecting = false;
    CellPos m_dragAnchor;  // where the press put the anchor; the end follows the mouse
    std::int32_t m_appliedAutoSize = -1;
    QSize m_appliedSize;
    std::string m_fontKey;  // the window font last applied
    bool m_fontApplied = false;
};

}  // namespace qelcomm::terminal
