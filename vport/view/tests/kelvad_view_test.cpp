// Kelvad at design time: its face, its size rule, its About box, its
// property page and what it persists.
#include "kelvad_ctrl.h"
#include "kelvad_persist.h"
#include "kelvad_view.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kelvad;

namespace {

TEST(KelvadFace, BitmapsAreSixteenColoursAndTheFaceHasABumpEdge)
{
    const QImage face = faceBitmap();
    EXPECT_EQ(face.size(), QSize(32, 32));
    EXPECT_LE(face.colorCount(), 16);
    QSet<QRgb> used;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            used.insert(face.pixel(x, y));
    EXPECT_GE(used.size(), 3) << "a drawing, not a flat fill";
    EXPECT_LE(used.size(), 16);
    EXPECT_EQ(toolboxBitmap().size(), QSize(24, 24));

    QImage painted(40, 40, QImage::Format_RGB32);
    painted.fill(Qt::magenta);
    QPainter p(&painted);
    KelvadFace::paintFace(p);
    p.end();
    EXPECT_EQ(painted.pixel(0, 0), qRgb(255, 255, 255));   // raised outer: light top-left
    EXPECT_EQ(painted.pixel(31, 31), qRgb(0, 0, 0));       // dark bottom-right
    EXPECT_EQ(painted.pixel(1, 1), qRgb(128, 128, 128));   // sunken inner: shadow top-left
    EXPECT_EQ(painted.pixel(30, 30), qRgb(223, 223, 223)); // light bottom-right
    for (int y = 2; y < 30; ++y)
        for (int x = 2; x < 30; ++x)
            ASSERT_EQ(painted.pixel(x, y), face.pixel(x, y)) << x << "," << y << ": copied unscaled from the corner";
    EXPECT_EQ(painted.pixel(32, 32), qRgb(255, 0, 255)) << "nothing drawn outside 32 by 32";
}

TEST(KelvadFace, AnyRequestedSizeSnapsBackTo32By32Pixels)
{
    EXPECT_EQ(acceptedExtent(QSize(5000, 100), 96, 96), QSize(847, 847));
    EXPECT_EQ(acceptedExtent(QSize(1, 1), 120, 144), QSize(677, 564));

    KelvadFace face;
    face.show();
    face.resize(120, 60);
    EXPECT_EQ(face.size(), QSize(32, 32));
    const QSize taken = face.setExtent(QSize(9000, 9000));
    const double dpi = face.screen()->logicalDotsPerInchX();
    EXPECT_NEAR(taken.width() * dpi / 2540.0, 32.0, 0.5);
    EXPECT_EQ(face.size(), QSize(32, 32));

    face.setDesignMode(false);  // invisible at run time
    EXPECT_FALSE(face.isVisible());
    face.setDesignMode(true);
    EXPECT_TRUE(face.isVisible());
}

TEST(KelvadAbout, TheControlsAboutBoxIsModalAndClosesWithOk)
{
    CKelvadCtrl control;
    installAboutBox(control, nullptr);
    QString title, product;
    bool modal = false, hasFace = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        modal = true;
        title = box->windowTitle();
        if (auto* label = box->findChild<QLabel*>("product"))
            product = label->text();
        if (auto* face = box->findChild<QLabel*>("face"))
            hasFace = face->pixmap().size() == QSize(32, 32);
        for (QPushButton* b : box->findChildren<QPushButton*>())
            if (b->text() == "OK")
                b->click();
    });
    control.AboutBox();  // returns when OK closed the box
    EXPECT_TRUE(modal);
    EXPECT_EQ(title, "About Kelvad Control");
    EXPECT_EQ(product, "Virtual Serial Port ActiveX Control 2.5");
    EXPECT_TRUE(hasFace);
}

TEST(KelvadPage, GeneralShowsOnlyItsPlaceholderText)
{
    KelvadGeneralPage page;
    EXPECT_EQ(page.windowTitle(), "General");
    EXPECT_EQ(page.findChildren<QLabel*>().size(), 1);
    EXPECT_TRUE(page.findChildren<QLineEdit*>().isEmpty());
    EXPECT_TRUE(page.findChildren<QAbstractButton*>().isEmpty());
    EXPECT_TRUE(page.findChildren<QAbstractSpinBox*>().isEmpty());
    EXPECT_TRUE(page.findChildren<QComboBox*>().isEmpty());
}

TEST(KelvadPersist, OnlyTheVersionStampAndTheExtentAreSaved)
{
    const std::string saved = SaveState({1000, 2000});
    EXPECT_EQ(saved, std::string("\x00\x00\x01\x00\xE8\x03\x00\x00\xD0\x07\x00\x00", 12));
    const auto loaded = LoadState(saved);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->cx, 1000);
    EXPECT_EQ(loaded->cy, 2000);

    std::string newerMinor = saved;
    newerMinor[0] = 5;
    EXPECT_TRUE(LoadState(newerMinor).has_value());
    std::string otherMajor = saved;
    otherMajor[2] = 2;
    EXPECT_FALSE(LoadState(otherMajor).has_value());
    EXPECT_FALSE(LoadState(saved.substr(0, 11)).has_value());
}

}  // namespace
