#pragma once
// The help window: the text file "Readme.txt" beside the program, read the first time it is shown.
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/gui/uFormScale.h"
#include "app/uDesktopHelpers.h"

namespace zelto::gui {

class TfmHelp : public QDialog {
public:
    explicit TfmHelp(QWidget* parent);

    // The full path of the text file to show.
    QString HelpFile;

    // Loads the text unless some was loaded before (a missing file shows an empty box).
    void FormShow();

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    THelpText fText;
    TFormScale fScale;
};

}  // namespace zelto::gui
