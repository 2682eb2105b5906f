#include "app/gui/fHelp.h"

#include <QFontDatabase>
#include <QKeyEvent>

namespace zelto::gui {

TfmHelp::TfmHelp(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Help"));
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // The help text lines up its columns with spaces.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSize(8);
    Memo1->setFont(fixed);

    Button1 = new QPushButton(tr("Close"), this);
    Button1->setDefault(true);  // Enter closes; Escape closes as every dialog's cancel does
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    // The design's client area 475 x 463 for the font in use; the Close button as wide as its text needs.
    fScale = TFormScale(*this);
    fScale.Fit(*Button1, {Button1->text()}, 75);
    resize(fScale.Size(475, 463));
    setMinimumSize(fScale.Size(240, 160));
}

void TfmHelp::FormShow() {
    if (!Memo1->toPlainText().isEmpty()) return;
    const std::string& text = fText.Load(HelpFile.toStdString());
    if (!text.empty()) Memo1->setPlainText(QString::fromStdString(text));
}

void TfmHelp::showEvent(QShowEvent* event) {
    FormShow();
    Button1->setFocus();
    QDialog::showEvent(event);
}

// Memo1 fills the window above the button row; Close stays at the bottom right.
void TfmHelp::resizeEvent(QResizeEvent* event) {
    const int w = width();
    const int h = height();
    const TFormScale& s = fScale;
    Memo1->setGeometry(s.X(8), s.Y(8), w - s.X(15), h - s.Y(47));
    Button1->setGeometry(w - s.X(83), h - s.Y(33), s.X(83) - s.X(8), s.Y(33) - s.Y(8));
    QDialog::resizeEvent(event);
}

}  // namespace zelto::gui
