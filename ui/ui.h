// What both windows share: controls placed in twips, labels that fit their
// text, and the "Ops!" box.
#pragma once

#include "coreresult.h"

#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ui {

// --- Geometry in twips (1/1440 of a logical inch) ---------------------------

// Pixels for a length in twips on the screen that shows `widget` (or the
// primary screen): 15 twips a pixel at 96 DPI, 12 at 120 DPI, and fewer when
// the application font is larger than the platform's default font.
int twipsToPixels(int twips, const QWidget *widget = nullptr);
void setGeometryTwips(QWidget *widget, int left, int top, int width, int height);
void resizeTwips(QWidget *widget, int width, int height);
// Grows a label from its top-left corner until its text fits; it never gets
// smaller than the size it had on the first call.
void fitLabel(QLabel *label);

// Names a control (tests and screen readers find it by name) and puts it at
// its designed place. There are no layouts, so nothing moves afterwards.
template <typename Control>
Control *place(Control *control, const char *name, int left, int top, int width, int height)
{
    control->setObjectName(QLatin1String(name));
    setGeometryTwips(control, left, top, width, height);
    return control;
}
// A button that Enter never presses.
QPushButton *makeButton(QWidget *parent, const char *name, const QString &text, int left, int top,
                        int width, int height);
// A text field that takes text of any length: the OS, not the field, refuses
// what is too long to pass on, and says so.
QLineEdit *makeField(QWidget *parent, const char *name, int left, int top, int width, int height);
// A plain-text caption, grown to fit its text.
QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int left, int top,
                  int width, int height);

// Outlines `widget` in the highlight colour while it has the focus, for the
// lists, on which the styles show no focus of their own. Call after the
// widget has painted itself.
void drawFocusFrame(QWidget *widget);

// --- Messages ----------------------------------------------------------------

// Modal box with the critical icon, one "OK" button and the title "Ops!".
void showError(QWidget *parent, const QString &message);
// Why something failed, in Portuguese, for the "Ops!" box.
QString reasonText(core::Error error);

} // namespace ui
