// The setup, about and help dialogs as widgets (offscreen).
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/gui/fAbout.h"
#include "app/gui/fHelp.h"
#include "app/gui/fSetup.h"
#include "platform/TempDir.h"

using namespace zelto;
using namespace zelto::gui;
using namespace zelto::test;

namespace {

// Runs action once the dialog's modal loop has started.
void WhenShown(std::function<void()> action) { QTimer::singleShot(0, std::move(action)); }

// The window keeps its design's proportions: it is at least the designed client area, and w sits where the
// design places it, scaled as the window is (to the pixel).
void ExpectAtDesignPlace(const QWidget& w, QRect design, QSize designClient) {
    const QWidget& window = *w.window();
    EXPECT_GE(window.width(), designClient.width());
    EXPECT_GE(window.height(), designClient.height());
    const double sx = double(window.width()) / designClient.width();
    const double sy = double(window.height()) / designClient.height();
    const QRect r = w.geometry();
    EXPECT_NEAR(r.left(), design.left() * sx, 1) << w.metaObject()->className();
    EXPECT_NEAR(r.left() + r.width(), (design.left() + design.width()) * sx, 1) << w.metaObject()->className();
    EXPECT_NEAR(r.top(), design.top() * sy, 1) << w.metaObject()->className();
    EXPECT_NEAR(r.top() + r.height(), (design.top() + design.height()) * sy, 1) << w.metaObject()->className();
}

}  // namespace

TEST(SetupDialog, LayoutTabOrderAndInputRules) {
    TfmSetup dlg(nullptr);
    EXPECT_EQ(dlg.windowTitle(), "Setup");
    ExpectAtDesignPlace(*dlg.edHttpServerPort, QRect(140, 10, 73, 21), QSize(304, 152));
    ExpectAtDesignPlace(*dlg.btnCancel, QRect(221, 119, 75, 25), QSize(304, 152));
    EXPECT_TRUE(dlg.btnOk->isDefault());

    // The tab order: OK, Cancel, port, adapter, password, log switch, and round again.
    std::vector<QWidget*> order;
    QWidget* w = dlg.btnOk;
    do {
        // The drop-down's text field takes the focus for it.
        QWidget* control = qobject_cast<QComboBox*>(w->parentWidget()) ? w->parentWidget() : w;
        if ((w->focusPolicy() & Qt::TabFocus) && (order.empty() || order.back() != control)) order.push_back(control);
        w = w->nextInFocusChain();
    } while (w != dlg.btnOk && order.size() < 20);
    const std::vector<QWidget*> expected{dlg.btnOk, dlg.btnCancel, dlg.edHttpServerPort, dlg.cmbQLinkNetworkAdapter,
                                         dlg.edQLinkPassword, dlg.chkLogToFile};
    ASSERT_GE(order.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), order.begin()));

    // Digits only, at most five of them; the password shows stars.
    dlg.edHttpServerPort->clear();
    QTest::keyClicks(dlg.edHttpServerPort, "8a0-8 0.1234");
    EXPECT_EQ(dlg.edHttpServerPort->text(), "80801");
    EXPECT_EQ(dlg.edQLinkPassword->echoMode(), QLineEdit::Password);
}

TEST(SetupDialog, OkReadsTheControlsCancelKeepsTheFields) {
    TfmSetup dlg(nullptr);
    TSetupFields fields{"80", "lo", "pw", false};

    WhenShown([&] {
        EXPECT_EQ(dlg.edHttpServerPort->text(), "80");
        EXPECT_EQ(dlg.edQLinkPassword->text(), "pw");
        EXPECT_FALSE(dlg.cmbQLinkNetworkAdapter->currentText().isEmpty()) << "the loopback adapter is selected";
        EXPECT_EQ(dlg.cmbQLinkNetworkAdapter->toolTip(), dlg.cmbQLinkNetworkAdapter->currentText());
        dlg.edHttpServerPort->setText("8080");
        dlg.edQLinkPassword->setText("secret");
        dlg.chkLogToFile->setChecked(true);
        dlg.btnCancel->click();
    });
    EXPECT_FALSE(dlg.Execute(fields));
    EXPECT_EQ(fields.fHttpServerPort, "80");
    EXPECT_EQ(fields.fQLinkPassword, "pw");
    EXPECT_EQ(fields.fQLinkNetworkAdapterID, "lo");
    EXPECT_FALSE(fields.fLogToFile);

    WhenShown([&] {
        dlg.edHttpServerPort->setText("8080");
        dlg.edQLinkPassword->setText("secret");
        dlg.chkLogToFile->setChecked(true);
        dlg.btnOk->click();
    });
    EXPECT_TRUE(dlg.Execute(fields));
    EXPECT_EQ(fields.fHttpServerPort, "8080");
    EXPECT_EQ(fields.fQLinkPassword, "secret");
    EXPECT_EQ(fields.fQLinkNetworkAdapterID, "lo");
    EXPECT_TRUE(fields.fLogToFile);

    // Text typed into the drop-down that names no adapter selects none: OK stores an empty ID.
    WhenShown([&] {
        dlg.cmbQLinkNetworkAdapter->setEditText("my adapter");
        EXPECT_EQ(dlg.cmbQLinkNetworkAdapter->toolTip(), "my adapter");
        dlg.btnOk->click();
    });
    EXPECT_TRUE(dlg.Execute(fields));
    EXPECT_EQ(fields.fQLinkNetworkAdapterID, "");

    // A stored adapter that is gone: nothing selected, an empty text.
    fields.fQLinkNetworkAdapterID = "gone0";
    WhenShown([&] {
        EXPECT_EQ(dlg.cmbQLinkNetworkAdapter->currentIndex(), -1);
        EXPECT_EQ(dlg.cmbQLinkNetworkAdapter->currentText(), "");
        dlg.btnOk->click();
    });
    EXPECT_TRUE(dlg.Execute(fields));
    EXPECT_EQ(fields.fQLinkNetworkAdapterID, "");
}

TEST(AboutBox, NameVersionCloseAndEscape) {
    TfmAbout about(nullptr);
    EXPECT_EQ(about.windowTitle(), "About");
    // The design's box with a row for the Close button below it.
    const QSize client(347, 134 + 33);
    ExpectAtDesignPlace(*about.Image1, QRect(16, 19, 96, 96), client);
    ExpectAtDesignPlace(*about.Label6, QRect(118, 108, 213, 14), client);
    ExpectAtDesignPlace(*about.btnClose, QRect(256, 134, 75, 25), client);
    EXPECT_EQ(about.lblProgramName->text(), "ZeltoHttpServer");
    EXPECT_EQ(about.lblVersionNum->text(), "1.0.3");
    EXPECT_EQ(about.Label6->toolTip(), QString("mailto:") + kMakerMailAddress);
    EXPECT_EQ(about.Label5->toolTip(), kMakerWebAddress);
    EXPECT_EQ(about.Label5->cursor().shape(), Qt::PointingHandCursor);
    WhenShown([&] { QTest::keyClick(&about, Qt::Key_Escape); });
    EXPECT_EQ(about.exec(), QDialog::Rejected);
    WhenShown([&] { about.btnClose->click(); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
}

TEST(HelpWindow, ShowsTheFileLoadedOnce) {
    TTempDir dir;
    WriteFileText(dir / "Readme.txt", "How to \x96 use it\r\n");
    TfmHelp help(nullptr);
    EXPECT_EQ(help.windowTitle(), "Help");
    EXPECT_TRUE(help.Memo1->isReadOnly());
    help.HelpFile = QString::fromStdString(dir / "Readme.txt");
    WhenShown([&] { QTest::keyClick(&help, Qt::Key_Return); });
    help.exec();
    EXPECT_EQ(help.Memo1->toPlainText(), QString::fromUtf8("How to \u2013 use it\n"));
    WriteFileText(dir / "Readme.txt", "Other text");
    WhenShown([&] { QTest::keyClick(&help, Qt::Key_Escape); });
    help.exec();
    EXPECT_EQ(help.Memo1->toPlainText(), QString::fromUtf8("How to \u2013 use it\n"));
    ExpectAtDesignPlace(*help.Button1, QRect(392, 430, 75, 25), QSize(475, 463));

    TfmHelp none(nullptr);
    none.HelpFile = QString::fromStdString(dir / "Missing.txt");
    WhenShown([&] { none.Button1->click(); });
    none.exec();
    EXPECT_TRUE(none.Memo1->toPlainText().isEmpty());
}
