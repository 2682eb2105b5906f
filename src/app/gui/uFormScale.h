#pragma once
// The windows are designed in pixels for Tahoma 8 pt on a 96 DPI screen (text 13 pixels high, 6 pixels per
// average character). TFormScale places such a design for the font the window meets and the screen's DPI:
// every design coordinate is multiplied by a horizontal factor (the font's average character width against
// the design's) and a vertical one (the font's height against the design's), never below 1. The horizontal
// factor grows further until each text fits the box the design gives it, so a font that is wide for some
// texts widens the whole window and the layout keeps its proportions.
#include <QFont>
#include <QRect>
#include <QSize>
#include <QStringList>

class QWidget;

namespace zelto::gui {

// The program's font: Tahoma 8 pt where it is installed, otherwise a sans-serif of similar width.
QFont ProgramFont();

// The pixels widget needs to show text in whole on one line: the text's width in the widget's font plus
// what the widget's kind spends beside its text (a button's frame and margins, a check box's indicator, a
// drop-down's arrow).
int WidthForText(const QWidget& widget, const QString& text);

class TFormScale {
public:
    // 1:1.
    TFormScale() = default;
    // The factors for the form's font as widget shows it (its screen's DPI).
    explicit TFormScale(const QWidget& widget);

    // Widens the horizontal factor until each of texts fits widget when the widget is designWidth design
    // pixels wide. widget must have its final font.
    void Fit(const QWidget& widget, const QStringList& texts, int designWidth);
    // As Fit, but never beyond maxWidth pixels (a text that long is shown in part).
    void FitAtMost(const QWidget& widget, const QStringList& texts, int designWidth, int maxWidth);

    double SX() const { return fSX; }
    double SY() const { return fSY; }
    // Design pixels to pixels. A box's edges are scaled, so boxes that touch in the design touch here.
    int X(int design) const;
    int Y(int design) const;
    QRect Rect(int left, int top, int width, int height) const;
    QSize Size(int width, int height) const;
    // A square picture's side: scaled by the smaller factor, so that it fits its box.
    int Picture(int design) const;
    // A font's pixel size, scaled with the text height.
    int FontPixels(int design) const;

private:
    double fSX = 1;
    double fSY = 1;
};

}  // namespace zelto::gui
