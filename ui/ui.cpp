#include "ui.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include <limits>

namespace ui {

int twipsToPixels(int twips, const QWidget *widget)
{
    const QScreen *screen = widget ? widget->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    // The design fits the platform's default font; a larger application font,
    // as a desktop's font setting gives, grows the whole design with it.
    const qreal fontHeight = QFontMetricsF(QGuiApplication::font()).height();
    const qreal defaultHeight =
        QFontMetricsF(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).height();
    return qRound(twips * dpi / 1440.0 * qMax(1.0, fontHeight / defaultHeight));
}

void setGeometryTwips(QWidget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(twipsToPixels(left, widget), twipsToPixels(top, widget),
                        twipsToPixels(width, widget), twipsToPixels(height, widget));
}

void resizeTwips(QWidget *widget, int width, int height)
{
    widget->resize(twipsToPixels(width, widget), twipsToPixels(height, widget));
}

void fitLabel(QLabel *label)
{
    // The designed size is kept, so that a later, shorter text shrinks the
    // label back to its design rather than leaving it at a wider size.
    QVariant designed = label->property("designedSize");
    if (!designed.isValid()) {
        designed = label->size();
        label->setProperty("designedSize", designed);
    }
    const QSize needed = label->sizeHint();
    const QSize base = designed.toSize();
    label->resize(qMax(base.width(), needed.width()), qMax(base.height(), needed.height()));
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &text, int left, int top,
                        int width, int height)
{
    auto *button = place(new QPushButton(text, parent), name, left, top, width, height);
    button->setAutoDefault(false);
    return button;
}

QLineEdit *makeField(QWidget *parent, const char *name, int left, int top, int width, int height)
{
    auto *field = place(new QLineEdit(parent), name, left, top, width, height);
    field->setMaxLength(std::numeric_limits<int>::max());
    return field;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int left, int top,
                  int width, int height)
{
    auto *label = place(new QLabel(text, parent), name, left, top, width, height);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    fitLabel(label);
    return label;
}

void drawFocusFrame(QWidget *widget)
{
    if (!widget->hasFocus())
        return;
    QPainter painter(widget);
    painter.setPen(QPen(widget->palette().color(QPalette::Highlight), 2));
    painter.drawRect(QRectF(widget->rect()).adjusted(1, 1, -1, -1));
}

void showError(QWidget *parent, const QString &message)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ops!"), message, QMessageBox::Ok,
                    parent);
    box.setObjectName(QStringLiteral("opsBox"));
    box.exec();
}

} // namespace ui
