// The port settings dialog: what it preselects, what OK and Cancel do
// (PortSettingsDialog without the dialog linked: port_dialog_load_test.cpp).
#include "port_settings_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>

using namespace qelcomm;

namespace {

std::string settingsOf(QcHandle o)
{
    char text[32] = {};
    GetSettings(o, text);
    return text;
}

struct Object {
    QcHandle handle = CreateCommObject(0);
    ~Object() { DestroyCommObject(handle); }
};

TEST(PortSettingsChoice, PreselectionFollowsTheObjectAndOkComposesTheText)
{
    Object o;
    ASSERT_EQ(SetSettings(o.handle, "2400,o,7,1.5"), 0);
    SetHandshaking(o.handle, 3);  // Both shows as Hardware
    PortSettingsChoice c = currentPortSettingsChoice(o.handle);
    EXPECT_EQ(c.baud, 12);
    EXPECT_EQ(c.parity, 42);
    EXPECT_EQ(c.dataBits, 24);
    EXPECT_EQ(c.stopBits, 32);
    EXPECT_EQ(c.handshaking, 52);
    EXPECT_EQ(composePortSettings(c), "2400,o,7,1.5");

    ASSERT_EQ(SetSettings(o.handle, "57600,s,5,2"), 0);  // not in the list: 38400
    SetHandshaking(o.handle, 0);
    c = currentPortSettingsChoice(o.handle);
    EXPECT_EQ(c.baud, 18);
    EXPECT_EQ(c.handshaking, 53);
    EXPECT_EQ(composePortSettings(c), "38400,s,5,2");

    c.baud = 16;
    c.handshaking = 51;
    EXPECT_EQ(applyPortSettingsChoice(o.handle, c), 0);
    EXPECT_EQ(settingsOf(o.handle), "19200,s,5,2");
    EXPECT_EQ(GetHandshaking(o.handle), 1);
}

TEST(PortSettingsDialog, OkAppliesTheCheckedButtonsAndCancelChangesNothing)
{
    Object o;
    SetSettings(o.handle, "9600,n,8,1");
    installPortSettingsDialog();
    EXPECT_EQ(PortSettingsDialog(0, 0), 0);

    bool preselected = false;
    QTimer::singleShot(0, [&] {
        auto* box = dynamic_cast<PortSettingsDialogBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        preselected = box->control(14)->isChecked() && box->control(25)->isChecked() &&
                      box->control(41)->isChecked() && box->control(31)->isChecked();
        for (int id : {16, 24, 43, 33, 51})
            box->control(id)->click();
        box->control(kIdOk)->click();
    });
    EXPECT_EQ(PortSettingsDialog(o.handle, 0), 1);
    EXPECT_TRUE(preselected);
    EXPECT_EQ(settingsOf(o.handle), "19200,e,7,2");
    EXPECT_EQ(GetHandshaking(o.handle), 1);

    QTimer::singleShot(0, [&] {
        auto* box = dynamic_cast<PortSettingsDialogBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->control(11)->click();
        box->control(kIdCancel)->click();
    });
    EXPECT_EQ(PortSettingsDialog(o.handle, 0), 0);
    EXPECT_EQ(settingsOf(o.handle), "19200,e,7,2");
}

}  // namespace
