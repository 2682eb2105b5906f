#pragma once
// The setup dialog: HTTP port, Q-link network adapter, Q-link password and the log switch. The main
// window hands the settings in through the public fields and takes them back after OK (acSetupExecute).
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "app/uSetup.h"
#include "net/uEthernetUtils.h"

namespace zelto::gui {

class TfmSetup : public QDialog {
public:
    explicit TfmSetup(QWidget* parent);
    ~TfmSetup() override;  // FormDestroy: frees the adapter list

    // The settings handed in and, after OK, taken back.
    TSetupFields Fields;

    // Shows the dialog modally with these settings; true (and the fields updated) on OK.
    bool Execute(TSetupFields& fields);
    // A fresh adapter list, then the controls filled from Fields.
    void FormShow();
    // The drop-down's tool tip follows its text, so that a long adapter name can be read in full.
    void cmbQLinkNetworkAdapterChange();
    void btnOkClick();

    QLabel* lblHttpServerPort = nullptr;
    QLineEdit* edHttpServerPort = nullptr;
    QLabel* lblQLinkNetworkAdapter = nullptr;
    QComboBox* cmbQLinkNetworkAdapter = nullptr;
    QLabel* lblQLinkPassword = nullptr;
    QLineEdit* edQLinkPassword = nullptr;
    QCheckBox* chkLogToFile = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void LayoutComponents();
    void WriteControls();
    void ReadControls();

    std::unique_ptr<TEthernetAdapterInfoList> fEthAdapters;
};

}  // namespace zelto::gui
