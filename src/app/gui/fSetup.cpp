#include "app/gui/fSetup.h"

#include <QRegularExpressionValidator>

namespace zelto::gui {

TfmSetup::TfmSetup(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Setup"));
    setFixedSize(304, 152);  // a fixed dialog border
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    lblHttpServerPort = new QLabel(tr("HTTP port:"), this);
    lblHttpServerPort->setGeometry(16, 10, 120, 21);
    edHttpServerPort = new QLineEdit(this);
    edHttpServerPort->setGeometry(140, 10, 73, 21);
    edHttpServerPort->setMaxLength(5);
    edHttpServerPort->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), edHttpServerPort));

    lblQLinkNetworkAdapter = new QLabel(tr("Q-link network adapter:"), this);
    lblQLinkNetworkAdapter->setGeometry(16, 37, 122, 21);
    cmbQLinkNetworkAdapter = new QComboBox(this);
    cmbQLinkNetworkAdapter->setGeometry(140, 37, 154, 21);
    cmbQLinkNetworkAdapter->setEditable(true);
    cmbQLinkNetworkAdapter->setInsertPolicy(QComboBox::NoInsert);
    cmbQLinkNetworkAdapter->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(cmbQLinkNetworkAdapter, &QComboBox::currentTextChanged, this, [this] { cmbQLinkNetworkAdapterChange(); });

    lblQLinkPassword = new QLabel(tr("Q-link password:"), this);
    lblQLinkPassword->setGeometry(16, 65, 120, 21);
    edQLinkPassword = new QLineEdit(this);
    edQLinkPassword->setGeometry(140, 65, 154, 21);
    edQLinkPassword->setEchoMode(QLineEdit::Password);

    chkLogToFile = new QCheckBox(tr("Log file"), this);
    chkLogToFile->setGeometry(16, 96, 81, 17);

    btnOk = new QPushButton(tr("OK"), this);
    btnOk->setGeometry(140, 119, 75, 25);
    btnOk->setDefault(true);  // Enter
    btnCancel = new QPushButton(tr("Cancel"), this);
    btnCancel->setGeometry(221, 119, 75, 25);  // Escape rejects the dialog as Cancel does
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(btnOk, btnCancel);
    setTabOrder(btnCancel, edHttpServerPort);
    setTabOrder(edHttpServerPort, cmbQLinkNetworkAdapter);
    setTabOrder(cmbQLinkNetworkAdapter, edQLinkPassword);
    setTabOrder(edQLinkPassword, chkLogToFile);
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
