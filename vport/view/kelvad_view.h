// Kelvad's faces for a container: the design-time look (the control is
// invisible at run time), its About box and its placeholder property page.
// Qt Widgets, apart from the control itself.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QSize>
#include <QWidget>

class CKelvadCtrl;

namespace kelvad {

// The control's face (bitmap 202): 32 by 32 pixels in 16 colours.
QImage faceBitmap();
// The toolbox bitmap (bitmap 1): 24 by 24 pixels in 16 colours.
QImage toolboxBitmap();

// What the control accepts as its extent, whatever the container asks:
// 32 by 32 device pixels, in HIMETRIC (0.01 mm) at the given resolution.
QSize acceptedExtent(QSize requestedHimetric, double dpiX, double dpiY);

// The control as a container shows it at design time: the face bitmap from
// the top-left corner, unscaled, with a bump edge (raised outer, sunken
// inner) around the whole rectangle. Always 32 by 32 pixels; hidden in run
// mode.
class KelvadFace : public QWidget {
public:
    explicit KelvadFace(QWidget* parent = nullptr);
    void setDesignMode(bool design);
    bool designMode() const { return m_design; }
    // The container's extent request; returns the extent taken (HIMETRIC),
    // which is always 32 by 32 pixels at the screen's resolution.
    QSize setExtent(QSize requestedHimetric);
    QSize sizeHint() const override { return {32, 32}; }

    // Paints the face into painter's device at its origin.
    static void paintFace(class QPainter& painter);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool m_design = true;
};

// "About Kelvad Control": the face, the product line and OK.
class KelvadAboutBox : public QDialog {
public:
    explicit KelvadAboutBox(QWidget* parent = nullptr);
};

// The property page "General": a placeholder text, nothing to edit.
class KelvadGeneralPage : public QWidget {
public:
    explicit KelvadGeneralPage(QWidget* parent = nullptr);
};

// Makes the control's AboutBox method show KelvadAboutBox modally over
// parent.
void installAboutBox(::CKelvadCtrl& control, QWidget* parent);

}  // namespace kelvad
