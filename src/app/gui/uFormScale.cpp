#include "app/gui/uFormScale.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <cmath>

namespace zelto::gui {

namespace {

// Tahoma 8 pt at 96 DPI, the font the windows are designed for.
constexpr double kDesignCharWidth = 6;
constexpr double kDesignTextHeight = 13;
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// A line edit keeps 2 pixels on either side of its text, and the cursor needs one more.
constexpr int kLineEditMargins = 5;

}  // namespace

QFont ProgramFont() {
    QFont font;
    font.setFamilies({"Tahoma", "Liberation Sans", "Arial", "DejaVu Sans"});
    font.setPointSize(8);
    return font;
}

int WidthForText(const QWidget& widget, const QString& text) {
    const QFontMetricsF fm(widget.font(), &widget);
    const int textWidth = static_cast<int>(std::ceil(fm.horizontalAdvance(text)));
    const QSize content(textWidth, static_cast<int>(std::ceil(fm.height())));
    QStyle* style = widget.style();
    if (const auto* button = qobject_cast<const QPushButton*>(&widget)) {
        // As QPushButton::sizeHint, but without the style's least width for a button with text.
        QStyleOptionButton opt;
        opt.initFrom(button);
        if (button->autoDefault()) opt.features |= QStyleOptionButton::AutoDefaultButton;
        if (button->isDefault()) opt.features |= QStyleOptionButton::DefaultButton;
        return style->sizeFromContents(QStyle::CT_PushButton, &opt, content, button).width();
    }
    if (const auto* check = qobject_cast<const QCheckBox*>(&widget)) {
        QStyleOptionButton opt;
        opt.initFrom(check);
        return style->sizeFromContents(QStyle::CT_CheckBox, &opt, content, check).width();
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(&widget)) {
        // The text stands in the drop-down's edit field, which leaves room for the frame and the arrow.
        QStyleOptionComboBox opt;
        opt.initFrom(combo);
        opt.editable = combo->isEditable();
        opt.rect = QRect(0, 0, 1000, std::max(combo->height(), content.height()));
        const QRect field = style->subControlRect(QStyle::CC_ComboBox, &opt,
                                                  QStyle::SC_ComboBoxEditField, combo);
        return textWidth + (opt.rect.width() - field.width()) + kLineEditMargins;
    }
    if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
        const int indent = std::max(label->indent(), 0);
        return textWidth + (label->width() - label->contentsRect().width()) + 2 * label->margin() + indent;
    }
    return textWidth;
}

TFormScale::TFormScale(const QWidget& widget) {
    const QFontMetricsF fm(widget.font(), &widget);
    const double charWidth = fm.horizontalAdvance(kAlphabet) / 52.0;
    fSX = std::max(1.0, charWidth / kDesignCharWidth);
    fSY = std::max(1.0, fm.height() / kDesignTextHeight);
}

void TFormScale::Fit(const QWidget& widget, const QStringList& texts, int designWidth) {
    FitAtMost(widget, texts, designWidth, INT_MAX);
}

void TFormScale::FitAtMost(const QWidget& widget, const QStringList& texts, int designWidth, int maxWidth) {
    int need = 0;
    for (const QString& text : texts) need = std::max(need, WidthForText(widget, text));
    need = std::min(need, maxWidth);
    // One pixel more: a box's scaled edges are rounded each, so its width may come out one pixel short.
    fSX = std::max(fSX, (need + 1.0) / designWidth);
}

int TFormScale::X(int design) const { return static_cast<int>(std::lround(design * fSX)); }
int TFormScale::Y(int design) const { return static_cast<int>(std::lround(design * fSY)); }

QRect TFormScale::Rect(int left, int top, int width, int height) const {
    return QRect(QPoint(X(left), Y(top)), QPoint(X(left + width) - 1, Y(top + height) - 1));
}

QSize TFormScale::Size(int width, int height) const { return QSize(X(width), Y(height)); }

int TFormScale::Picture(int design) const { return static_cast<int>(std::lround(design * std::min(fSX, fSY))); }

int TFormScale::FontPixels(int design) const { return Y(design); }

}  // namespace zelto::gui
