#include "kelvad_view.h"

#include "kelvad_ctrl.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <cmath>

namespace kelvad {
namespace {

constexpr int kFacePixels = 32;

// The 16 colours of the classic VGA palette the bitmaps are drawn in.
QList<QRgb> palette16()
{
    return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

QImage to16Colours(const QImage& drawn)
{
    return drawn.convertToFormat(QImage::Format_Indexed8, palette16(), Qt::ThresholdDither | Qt::AvoidDither);
}

// A nine-pin serial connector: a blue shell with yellow pins on grey.
void drawConnector(QPainter& p, int size)
{
    p.fillRect(0, 0, size, size, QColor(192, 192, 192));
    const qreal s = size / 32.0;
    QPolygonF shell({{4 * s, 9 * s}, {28 * s, 9 * s}, {25 * s, 23 * s}, {7 * s, 23 * s}});
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(QColor(0, 0, 128));
    p.drawPolygon(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 0));
    for (int i = 0; i < 5; ++i)
        p.drawRect(QRectF((7.5 + 4 * i) * s, 12 * s, 2 * s, 2 * s));
    for (int i = 0; i < 4; ++i)
        p.drawRect(QRectF((9.5 + 4 * i) * s, 18 * s, 2 * s, 2 * s));
}

}  // namespace

QImage faceBitmap()
{
    QImage drawn(kFacePixels, kFacePixels, QImage::Format_RGB32);
    QPainter p(&drawn);
    drawConnector(p, kFacePixels);
    p.end();
    return to16Colours(drawn);
}

QImage toolboxBitmap()
{
    QImage drawn(24, 24, QImage::Format_RGB32);
    QPainter p(&drawn);
    drawConnector(p, 24);
    p.end();
    return to16Colours(drawn);
}

QSize acceptedExtent(QSize, double dpiX, double dpiY)
{
    auto himetric = [](double dpi) { return int(std::lround(kFacePixels * 2540.0 / (dpi > 0 ? dpi : 96.0))); };
    return {himetric(dpiX), himetric(dpiY)};
}

KelvadFace::KelvadFace(QWidget* parent) : QWidget(parent)
{
    setFixedSize(kFacePixels, kFacePixels);
}

void KelvadFace::setDesignMode(bool design)
{
    m_design = design;
    setVisible(design);
}

QSize KelvadFace::setExtent(QSize requestedHimetric)
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const double dpiX = screen ? screen->logicalDotsPerInchX() : 96.0;
    const double dpiY = screen ? screen->logicalDotsPerInchY() : 96.0;
    resize(kFacePixels, kFacePixels);
    return acceptedExtent(requestedHimetric, dpiX, dpiY);
}

void KelvadFace::paintFace(QPainter& p)
{
    p.drawImage(0, 0, faceBitmap());
    // The bump edge: raised outer ring, sunken inner ring.
    QRect r(0, 0, kFacePixels, kFacePixels);
    auto ring = [&](const QColor& topLeft, const QColor& bottomRight) {
        p.setPen(topLeft);
        p.drawLine(r.left(), r.bottom(), r.left(), r.top());
        p.drawLine(r.left(), r.top(), r.right(), r.top());
        p.setPen(bottomRight);
        p.drawLine(r.right(), r.top(), r.right(), r.bottom());
        p.drawLine(r.right(), r.bottom(), r.left(), r.bottom());
        r.adjust(1, 1, -1, -1);
    };
    ring(QColor(255, 255, 255), QColor(0, 0, 0));        // raised outer
    ring(QColor(128, 128, 128), QColor(223, 223, 223));  // sunken inner
}

void KelvadFace::paintEvent(QPaintEvent*)
{
    if (!m_design)
        return;
    QPainter p(this);
    paintFace(p);
}

KelvadAboutBox::KelvadAboutBox(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("About Kelvad Control");
    setModal(true);
    setFont(QFont("MS Sans Serif", 8));
    auto* picture = new QLabel;
    picture->setObjectName("face");
    picture->setPixmap(QPixmap::fromImage(faceBitmap()));
    auto* text = new QLabel("Virtual Serial Port ActiveX Control 2.5");
    text->setObjectName("product");
    auto* ok = new QPushButton("OK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(picture, 0, Qt::AlignTop);
    row->addWidget(text, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    setLayout(row);
}

KelvadGeneralPage::KelvadGeneralPage(QWidget* parent) : QWidget(parent)
{
    setWindowTitle("General");
    auto* text = new QLabel("The virtual serial port control has no properties to set.");
    text->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addStretch(1);
}

void installAboutBox(::CKelvadCtrl& control, QWidget* parent)
{
    control.setAboutBoxHandler([parent] {
        KelvadAboutBox box(parent);
        box.exec();
    });
}

}  // namespace kelvad
