#include "frm_ping.h"
#include "ping_tool.h"

#include "net/echo.h"
#include "net/net.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

using lintrel::frmPing;

namespace {
struct Shown {
    QString text, title;
};

class PingTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        frmPing::setMessageHook([this](const QString& text, const QString& title) { shown.push_back({text, title}); });
        lt::net::SetSocketsWarningHandler([this](const std::string& w) { warnings.push_back(w); });
    }
    void TearDown() override
    {
        frmPing::setMessageHook({});
        lt::net::SetSocketsWarningHandler({});
    }
    QStringList results() const
    {
        QStringList r;
        for (auto* t : tool.Text4) r << t->text();
        return r;
    }
    bool echoUnavailable() const { return !lt::net::EchoUnavailableReason().empty(); }

    frmPing tool;
    std::vector<Shown> shown;
    std::vector<std::string> warnings;
};

QStringList labels(const QWidget& w)
{
    QStringList out;
    for (auto* l : w.findChildren<QLabel*>()) out << l->text();
    return out;
}
}  // namespace

TEST_F(PingTool, FieldsAndHints)
{
    EXPECT_EQ(tool.windowTitle(), "Ping IP Address");
    EXPECT_EQ(tool.Text1->text(), "");
    EXPECT_EQ(tool.Text1->toolTip(), "Enter the IP Address of the computer that you want to ping.");
    EXPECT_EQ(tool.Text2->text(), "Testing 123");
    EXPECT_EQ(tool.Text2->toolTip(), "Enter the data string that you want to ping the computer with.");
    EXPECT_EQ(labels(tool), (QStringList{"IP Address:", "Echo Data:", "Return Status:", "Address (dec):",
                                         "Round Trip Time:", "Data Packet Size:", "Data Returned:"}));
    auto frames = tool.findChildren<QGroupBox*>();
    ASSERT_EQ(frames.size(), 1);
    EXPECT_EQ(frames[0]->title(), "Ping Results:");
    for (auto* t : tool.Text4) {
        EXPECT_EQ(t->toolTip(), "Return status information.");
        EXPECT_EQ(t->parentWidget(), frames[0]);
        EXPECT_TRUE(t->text().isEmpty());
    }
    EXPECT_EQ(tool.Command1->text(), "&Ping");
    EXPECT_EQ(tool.Command3->text(), "&Cancel");
}

TEST_F(PingTool, MissingAddressAsksForOne)
{
    tool.show();
    tool.Text2->setFocus();
    tool.Command1->click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text,
              "Please enter an IP Address or host name for the computer or device that you want to ping.");
    EXPECT_EQ(shown[0].title, "Ping Error - Missing or invalid IP Address");
    EXPECT_EQ(tool.focusWidget(), tool.Text1);
    EXPECT_EQ(results(), QStringList(5, QString()));
}

TEST_F(PingTool, PingLoopbackThenAnUnknownName)
{
    tool.Text1->setText("127.0.0.1");
    tool.Command1->click();
    if (echoUnavailable()) GTEST_SKIP() << lt::net::EchoUnavailableReason();
    const QStringList r = results();
    EXPECT_EQ(r[0], "0   [IP Success]");
    EXPECT_EQ(r[1], "16777343");
    EXPECT_TRUE(QRegularExpression("^\\d+ ms$").match(r[2]).hasMatch()) << r[2].toStdString();
    EXPECT_EQ(r[3], "11 bytes");
    EXPECT_EQ(r[4], "Testing 123");
    EXPECT_TRUE(shown.empty());

    // A name that does not resolve; the last ping's results are cleared.
    tool.Text1->setText("no-such-host.invalid");
    tool.Command1->click();
    EXPECT_EQ(results(), (QStringList{"-1   [Bad IP Format]", "0", "0 ms", "0 bytes", ""}));
    EXPECT_TRUE(shown.empty());

    // Every ping stopped the sockets it started.
    EXPECT_TRUE(warnings.empty());
    EXPECT_FALSE(lt::net::StopSockets());
}

TEST_F(PingTool, AddressAsSignedNumberFirstOctetLowest)
{
    EXPECT_EQ(lintrel::addressDecimal(*lt::net::parseDotted("192.168.1.1")), 16885952);
    EXPECT_EQ(lintrel::addressDecimal(*lt::net::parseDotted("10.0.0.128")), -2147483638);
    EXPECT_EQ(lintrel::addressDecimal(*lt::net::parseDotted("255.255.255.255")), -1);
    EXPECT_EQ(lintrel::addressDecimal(0), 0);
}

// The tool is modal, as the menu opens it: showPingTool returns once the
// user closed it, and its widgets are found by name.
TEST(PingToolWindow, ModalWithNamedWidgetsThatCancelCloses)
{
    QWidget owner;
    bool seen = false;
    QTimer::singleShot(50, [&] {
        auto* tool = dynamic_cast<frmPing*>(QApplication::activeModalWidget());
        ASSERT_NE(tool, nullptr);
        seen = true;
        EXPECT_EQ(tool->objectName(), "frmPing");
        EXPECT_TRUE(tool->isModal());
        for (const char* name : {"Text1", "Text2", "Text4_0", "Text4_4", "Command1", "Command3", "Frame1"})
            EXPECT_NE(tool->findChild<QWidget*>(name), nullptr) << name;
        tool->findChild<QPushButton*>("Command3")->click();
    });
    lintrel::showPingTool(&owner);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(owner.findChildren<frmPing*>().isEmpty());
}

int main(int argc, char** argv)
{
    // Test discovery runs this program at build time, without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
