#pragma once
// The about box: the program's name and version, the maker's notice and two links (web and mail), and a
// Close button.
#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace zelto::gui {

// The maker's texts shown in the about box.
inline constexpr const char* kMakerNotice = "Copyright \u00A9 Tessvik. All rights reserved.";
inline constexpr const char* kMakerWebAddress = "https://www.tessvik.com";
inline constexpr const char* kMakerMailAddress = "support@tessvik.com";

class TfmAbout : public QDialog {
public:
    explicit TfmAbout(QWidget* parent);

    // Opens the address of a link label: a mail address as "mailto:", anything else as a web address.
    void Label5Click(QObject* Sender);

    QLabel* lblProgramName = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* lblVersionNum = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Image1 = nullptr;
    QPushButton* btnClose = nullptr;  // default and cancel button: Enter and Escape close the box too

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;  // clicks on the link labels

private:
    void LayoutComponents();
};

}  // namespace zelto::gui
