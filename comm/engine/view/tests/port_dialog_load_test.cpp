// PortSettingsDialog in a program that links only libqelcomm6, as a C
// program on the flat interface does, and makes no application object of
// its own: the library makes one and finds the dialog's library beside
// itself. Each case runs in a process of its own, so each starts without
// an application object.
#include "qelcomm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string settingsOf(QcHandle o)
{
    char text[32] = {};
    GetSettings(o, text);
    return text;
}

void click(QWidget* dialog, const char* id)
{
    if (auto* b = dialog ? dialog->findChild<QAbstractButton*>(id) : nullptr)
        b->click();
}

TEST(PortSettingsDialogLoaded, ShowsWhenTheWidgetsLibraryIsThere)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const QcHandle o = CreateCommObject(0);
    ASSERT_NE(o, 0u);
    ASSERT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr)
        << "the library made a QApplication";
    bool shown = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        shown = box != nullptr;
        click(box, "16");   // 19200
        click(box, "43");   // even
        click(box, "1");    // OK
    });
    EXPECT_EQ(PortSettingsDialog(o, 0), 1);
    EXPECT_TRUE(shown);
    EXPECT_EQ(settingsOf(o), "19200,e,8,1");
    DestroyCommObject(o);
}

// No display: a core application, and the dialog answers 0 at once.
TEST(PortSettingsDialogLoaded, WithoutADisplayReturnsZero)
{
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        unsetenv(name);
    const QcHandle o = CreateCommObject(0);
    ASSERT_NE(o, 0u);
    EXPECT_EQ(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
    EXPECT_EQ(PortSettingsDialog(o, 0), 0);
    DestroyCommObject(o);
}

// A display that cannot be reached does not end the program; no window can
// show, so the dialog answers 0 instead of waiting for a click that never comes.
TEST(PortSettingsDialogLoaded, AnUnreachableDisplayNeitherEndsTheProgramNorWaits)
{
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    setenv("DISPLAY", ":9735", 1);
    const QcHandle o = CreateCommObject(0);
    ASSERT_NE(o, 0u);
    EXPECT_EQ(PortSettingsDialog(o, 0), 0);
    EXPECT_EQ(PumpCommEvents(0), 1);
    DestroyCommObject(o);
}

}  // namespace

// No application object here: the library makes it.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
