#include "app/gui/fAbout.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

#include "app/gui/uArtwork.h"
#include "app/uDesktopHelpers.h"
#include "platform/uVersion.h"

namespace zelto::gui {

namespace {

QLabel* AboutLabel(QWidget* parent, const QString& text, int top, int height, int pixelSize, bool bold = false) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(118, top, 213, height);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont font("Arial");
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    label->setFont(font);
    return label;
}

}  // namespace

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("About"));
    setFixedSize(347, 134);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
    setPalette(pal);

    Image1 = new QLabel(this);
    Image1->setGeometry(16, 19, 96, 96);
    Image1->setPixmap(EmblemPicture(96));

    // FormCreate: the program's name and version of this build.
    lblProgramName = AboutLabel(this, QApplication::applicationName(), 8, 30, 24, true);
    Label3 = AboutLabel(this, tr("version"), 38, 14, 11);
    lblVersionNum = AboutLabel(this, QString::fromStdString(GetVersionText(3)), 51, 22, 19);
    Label2 = AboutLabel(this, QString::fromUtf8(kMakerNotice), 78, 14, 11);
    Label5 = AboutLabel(this, kMakerWebAddress, 94, 14, 11);
    Label6 = AboutLabel(this, kMakerMailAddress, 108, 14, 11);
    for (QLabel* link : {Label5, Label6}) {
        link->setCursor(Qt::PointingHandCursor);
        QPalette lp = link->palette();
        lp.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
        link->setPalette(lp);
        link->setToolTip(QString::fromStdString(LinkTarget(link->text().toStdString())));
        link->installEventFilter(this);
    }
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
