// Every window at the DPI this run was started with (96, and 144 in a second run): each label, button, check
// box and drop-down shows its whole text, and no two of them overlap. Pictures of the windows are saved to
// the screenshot folder ("fit-<dpi>-<window>.png").
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QTextDocumentFragment>
#include <cmath>
#include <gtest/gtest.h>

#include "app/FakeRequestService.h"
#include "app/gui/fAbout.h"
#include "app/gui/fHelp.h"
#include "app/gui/fMainWindow.h"
#include "app/gui/fSetup.h"
#include "log/uLog.h"
#include "platform/TempDir.h"
#include "platform/TestHttpClient.h"

using namespace zelto;
using namespace zelto::gui;
using namespace zelto::test;

namespace {

// Controllers with the widest texts a panel meets in practice.
class TWideControllers : public TFakeRequestService {
public:
    std::array<std::optional<TControllerStatus>, 3> LastAccessList() const override {
        return {TControllerStatus{254, "192.168.254.254", true, Now(), 2147483647},
                TControllerStatus{128, "10.100.200.222", true, Now(), 1000000},
                TControllerStatus{7, "", false, Now(), 1}};
    }
};

// The texts a widget shows and the width its style leaves them, measured the way the style draws them.
struct TShownText {
    QStringList Texts;
    double Room = 0;
};

TShownText ShownText(QWidget* w) {
    QStyle* style = w->style();
    if (auto* label = qobject_cast<QLabel*>(w)) {
        // A link shows its text, not its markup.
        const QString text = label->textFormat() == Qt::RichText ? QTextDocumentFragment::fromHtml(label->text()).toPlainText() : label->text();
        return {{text}, double(label->contentsRect().width() - 2 * label->margin() - std::max(label->indent(), 0))};
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        if (button->autoDefault()) opt.features |= QStyleOptionButton::AutoDefaultButton;
        return {{button->text()}, double(style->subElementRect(QStyle::SE_PushButtonContents, &opt, button).width())};
    }
    if (auto* check = qobject_cast<QCheckBox*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(check);
        return {{check->text()}, double(style->subElementRect(QStyle::SE_CheckBoxContents, &opt, check).width())};
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        TShownText shown;
        for (int i = 0; i < combo->count(); ++i) shown.Texts << combo->itemText(i);
        shown.Texts << combo->currentText();
        // An editable drop-down shows its text in its line edit, 2 pixels in from either side.
        shown.Room = combo->isEditable() ? combo->lineEdit()->width() - 4 : combo->width();
        return shown;
    }
    return {};
}

// Checks window, designed for a client area of design, and saves its picture as fit-<dpi>-<name>.png.
void ExpectWholeTextsApart(QWidget& window, const QString& name, QSize design) {
    window.show();
    QApplication::processEvents();
    EXPECT_GE(window.width(), design.width()) << name.toStdString();
    EXPECT_GE(window.height(), design.height()) << name.toStdString();
    std::vector<QWidget*> controls;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const bool kind = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                          qobject_cast<QComboBox*>(w) || (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parentWidget()));
        if (kind && w->isVisibleTo(&window)) controls.push_back(w);
    }
    ASSERT_FALSE(controls.empty()) << name.toStdString();
    for (QWidget* w : controls) {
        const TShownText shown = ShownText(w);
        const QFontMetricsF fm(w->font(), w);
        for (const QString& text : shown.Texts) {
            EXPECT_LE(fm.horizontalAdvance(text), shown.Room) << name.toStdString() << ": \"" << text.toStdString() << "\"";
            if (!text.isEmpty() && qobject_cast<QLabel*>(w)) {
                EXPECT_LE(fm.tightBoundingRect(text).height(), w->contentsRect().height())
                    << name.toStdString() << ": \"" << text.toStdString() << "\" in height";
            }
        }
    }
    auto box = [&](QWidget* w) { return QRect(w->mapTo(&window, QPoint(0, 0)), w->size()); };
    for (std::size_t i = 0; i < controls.size(); ++i) {
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            QWidget* a = controls[i];
            QWidget* b = controls[j];
            if (a->isAncestorOf(b) || b->isAncestorOf(a)) continue;  // a logo on its banner
            EXPECT_FALSE(box(a).intersects(box(b)))
                << name.toStdString() << ": " << ShownText(a).Texts.join("|").toStdString() << " and "
                << ShownText(b).Texts.join("|").toStdString();
        }
    }
    const int dpi = static_cast<int>(std::lround(window.screen()->logicalDotsPerInch()));
    QDir().mkpath(ZELTO_SCREENSHOT_DIR);
    window.grab().save(QDir(ZELTO_SCREENSHOT_DIR).filePath(QString("fit-%1-%2.png").arg(dpi).arg(name)), "PNG");
    window.hide();
}

}  // namespace

TEST(WindowTexts, EveryWindowShowsItsTextsWholeAndApart) {
    TTempDir dir;
    MyLog.Enabled = false;
    TfmMain fmMain(LoopbackMainOptions(dir.Path().string()), [](const IMainWindowState&) { return std::make_unique<TWideControllers>(); });
    {
        TfmMainWindow main(fmMain);
        main.FormCreate();
        ExpectWholeTextsApart(main, "main-idle", {475, 340});
        ASSERT_EQ(Get(fmMain.ListenerPort(), "/?c254.temp&c128.temp&c7.temp").Status, 200);
        main.Timer1Timer();
        ExpectWholeTextsApart(main, "main", {475, 340});
        main.FormDestroy();
    }

    TfmSetup setup(nullptr);
    setup.Fields = TSetupFields{"65535", "lo", "secret", true};
    setup.FormShow();
    ASSERT_GE(setup.cmbQLinkNetworkAdapter->currentIndex(), 0) << "the loopback adapter is always there";
    ExpectWholeTextsApart(setup, "setup", {304, 152});

    TfmAbout about(nullptr);
    ExpectWholeTextsApart(about, "about", {347, 134 + 33});

    WriteFileText(dir / "Readme.txt", "ZeltoHttpServer\n");
    TfmHelp help(nullptr);
    help.HelpFile = QString::fromStdString(dir / "Readme.txt");
    ExpectWholeTextsApart(help, "help", {475, 463});
}
