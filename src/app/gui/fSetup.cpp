#include "app/gui/fSetup.h"

#include <QRegularExpressionValidator>
#include <QScreen>
#include <climits>

#include "app/gui/uFormScale.h"

namespace zelto::gui {

TfmSetup::TfmSetup(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Setup"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    lblHttpServerPort = new QLabel(tr("HTTP port:"), this);
    edHttpServerPort = new QLineEdit(this);
    edHttpServerPort->setMaxLength(5);
    edHttpServerPort->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), edHttpServerPort));

    lblQLinkNetworkAdapter = new QLabel(tr("Q-link network adapter:"), this);
    cmbQLinkNetworkAdapter = new QComboBox(this);
    cmbQLinkNetworkAdapter->setEditable(true);
    cmbQLinkNetworkAdapter->setInsertPolicy(QComboBox::NoInsert);
    cmbQLinkNetworkAdapter->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(cmbQLinkNetworkAdapter, &QComboBox::currentTextChanged, this, [this] { cmbQLinkNetworkAdapterChange(); });

    lblQLinkPassword = new QLabel(tr("Q-link password:"), this);
    edQLinkPassword = new QLineEdit(this);
    edQLinkPassword->setEchoMode(QLineEdit::Password);

    chkLogToFile = new QCheckBox(tr("Log file"), this);

    btnOk = new QPushButton(tr("OK"), this);
    btnOk->setDefault(true);  // Enter
    btnCancel = new QPushButton(tr("Cancel"), this);  // Escape rejects the dialog as Cancel does
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(btnOk, btnCancel);
    setTabOrder(btnCancel, edHttpServerPort);
    setTabOrder(edHttpServerPort, cmbQLinkNetworkAdapter);
    setTabOrder(cmbQLinkNetworkAdapter, edQLinkPassword);
    setTabOrder(edQLinkPassword, chkLogToFile);
    LayoutComponents();
}

// The design's places (client area 304 x 152) for the font in use, widened until every text fits; the
// drop-down is widened for its adapters too, but not beyond the screen (its tool tip shows the rest).
void TfmSetup::LayoutComponents() {
    TFormScale s(*this);
    for (QLabel* label : {lblHttpServerPort, lblQLinkNetworkAdapter, lblQLinkPassword}) s.Fit(*label, {label->text()}, 122);
    s.Fit(*chkLogToFile, {chkLogToFile->text()}, 81);
    s.Fit(*btnOk, {btnOk->text()}, 75);
    s.Fit(*btnCancel, {btnCancel->text()}, 75);
    QStringList adapters;
    for (int i = 0; i < cmbQLinkNetworkAdapter->count(); ++i) adapters << cmbQLinkNetworkAdapter->itemText(i);
    const QScreen* screen = this->screen();
    const int most = screen ? screen->availableGeometry().width() * 154 / 304 : INT_MAX;
    s.FitAtMost(*cmbQLinkNetworkAdapter, adapters, 154, most);

    setFixedSize(s.Size(304, 152));  // a fixed dialog border
    // Each label stands in the row of its control, text centred on the control's height.
    lblHttpServerPort->setGeometry(s.Rect(16, 10, 122, 21));
    edHttpServerPort->setGeometry(s.Rect(140, 10, 73, 21));
    lblQLinkNetworkAdapter->setGeometry(s.Rect(16, 37, 122, 21));
    cmbQLinkNetworkAdapter->setGeometry(s.Rect(140, 37, 154, 21));
    lblQLinkPassword->setGeometry(s.Rect(16, 65, 122, 21));
    edQLinkPassword->setGeometry(s.Rect(140, 65, 154, 21));
    chkLogToFile->setGeometry(s.Rect(16, 96, 81, 17));
    btnOk->setGeometry(s.Rect(140, 119, 75, 25));
    btnCancel->setGeometry(s.Rect(221, 119, 75, 25));
}

TfmSetup::~TfmSetup() = default;

bool TfmSetup::Execute(TSetupFields& fields) {
    Fields = fields;
    FormShow();
    btnOk->setFocus();
    if (exec() != QDialog::Accepted) return false;  // the fields keep what was handed in
    fields = Fields;
    return true;
}

void TfmSetup::FormShow() {
    fEthAdapters = std::make_unique<TEthernetAdapterInfoList>();
    WriteControls();
    LayoutComponents();  // the adapters' lines may need a wider drop-down
}

void TfmSetup::cmbQLinkNetworkAdapterChange() { cmbQLinkNetworkAdapter->setToolTip(cmbQLinkNetworkAdapter->currentText()); }

void TfmSetup::btnOkClick() {
    ReadControls();
    accept();
}

void TfmSetup::WriteControls() {
    TSetupControls c;
    zelto::WriteControls(Fields, fEthAdapters.get(), c);
    edHttpServerPort->setText(QString::fromStdString(c.HttpServerPort));
    if (fEthAdapters) {
        const QSignalBlocker block(cmbQLinkNetworkAdapter);
        cmbQLinkNetworkAdapter->clear();
        for (const auto& item : c.AdapterItems) cmbQLinkNetworkAdapter->addItem(QString::fromStdString(item));
        cmbQLinkNetworkAdapter->setCurrentIndex(c.AdapterIndex);
        cmbQLinkNetworkAdapter->setEditText(QString::fromStdString(c.AdapterText));
        cmbQLinkNetworkAdapter->setToolTip(QString::fromStdString(c.AdapterHint));
    }
    edQLinkPassword->setText(QString::fromStdString(c.QLinkPassword));
    chkLogToFile->setChecked(c.LogToFile);
}

void TfmSetup::ReadControls() {
    TSetupControls c;
    c.HttpServerPort = edHttpServerPort->text().toStdString();
    // Text typed into the field selects the item it names exactly, or nothing.
    const QString text = cmbQLinkNetworkAdapter->currentText();
    int index = cmbQLinkNetworkAdapter->currentIndex();
    if (index < 0 || cmbQLinkNetworkAdapter->itemText(index) != text) {
        index = cmbQLinkNetworkAdapter->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    }
    c.AdapterIndex = index;
    c.AdapterText = text.toStdString();
    c.QLinkPassword = edQLinkPassword->text().toStdString();
    c.LogToFile = chkLogToFile->isChecked();
    zelto::ReadControls(c, fEthAdapters.get(), Fields);
}

}  // namespace zelto::gui
