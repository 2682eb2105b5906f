#include "app/gui/fAbout.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

#include "app/gui/uArtwork.h"
#include "app/gui/uFormScale.h"
#include "app/uDesktopHelpers.h"
#include "platform/uVersion.h"

namespace zelto::gui {

namespace {

QLabel* AboutLabel(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

}  // namespace

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("About"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
    setPalette(pal);

    Image1 = new QLabel(this);
    Image1->setAlignment(Qt::AlignCenter);

    // FormCreate: the program's name and version of this build.
    lblProgramName = AboutLabel(this, QApplication::applicationName());
    Label3 = AboutLabel(this, tr("version"));
    lblVersionNum = AboutLabel(this, QString::fromStdString(GetVersionText(3)));
    Label2 = AboutLabel(this, QString::fromUtf8(kMakerNotice));
    Label5 = AboutLabel(this, kMakerWebAddress);
    Label6 = AboutLabel(this, kMakerMailAddress);
    for (QLabel* link : {Label5, Label6}) {
        link->setCursor(Qt::PointingHandCursor);
        QPalette lp = link->palette();
        lp.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
        link->setPalette(lp);
        link->setToolTip(QString::fromStdString(LinkTarget(link->text().toStdString())));
        link->installEventFilter(this);
    }
    btnClose = new QPushButton(tr("Close"), this);
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    LayoutComponents();
}

// The design's places (client area 347 x 134, the texts right-aligned in a column 213 wide beside the
// emblem, and a row below them for the Close button) for the font in use; the texts' own fonts grow with
// it, and the column widens until each fits.
void TfmAbout::LayoutComponents() {
    TFormScale s(*this);
    const struct {
        QLabel* label;
        int top, height, pixelSize;
        bool bold;
    } texts[] = {
        {lblProgramName, 8, 30, 24, true}, {Label3, 38, 14, 11, false}, {lblVersionNum, 52, 22, 19, false},
        {Label2, 78, 14, 11, false},       {Label5, 94, 14, 11, false}, {Label6, 108, 14, 11, false},
    };
    for (const auto& t : texts) {
        QFont font("Arial");
        font.setPixelSize(s.FontPixels(t.pixelSize));
        font.setBold(t.bold);
        t.label->setFont(font);
        s.Fit(*t.label, {t.label->text()}, 213);
    }
    s.Fit(*btnClose, {btnClose->text()}, 75);
    setFixedSize(s.Size(347, 134 + 33));
    for (const auto& t : texts) t.label->setGeometry(s.Rect(118, t.top, 213, t.height));
    btnClose->setGeometry(s.Rect(256, 134, 75, 25));
    Image1->setGeometry(s.Rect(16, 19, 96, 96));
    Image1->setPixmap(EmblemPicture(s.Picture(96)));
}

bool TfmAbout::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == Label5 || watched == Label6) && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label5Click(watched);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfmAbout::Label5Click(QObject* Sender) {
    auto* label = qobject_cast<QLabel*>(Sender);
    if (!label) return;
    // The result is not examined: a desktop without a browser or mail program simply opens nothing.
    QDesktopServices::openUrl(QUrl(QString::fromStdString(LinkTarget(label->text().toStdString()))));
}

}  // namespace zelto::gui
