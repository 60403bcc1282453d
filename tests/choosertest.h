// Opens the chooser from a main window's "..." button and works in it while
// it is shown modally.
#pragma once

#include "abrir.h"
#include "form1.h"
#include "listcontrols.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

// Presses `button` of `window`; once the chooser shows, runs `work` on it.
// If `work` leaves it open, it is cancelled. Returns false if none opened.
inline bool inChooser(Form1 &window, const char *button, const std::function<void(Abrir &)> &work)
{
    bool opened = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *chooser = window.findChild<Abrir *>();
        if (!chooser || !chooser->isVisible() || opened)
            return;
        opened = true;
        work(*chooser);
        if (window.findChild<Abrir *>() == chooser && chooser->isVisible())
            chooser->reject();
    });
    poll.start();
    QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);
    return opened;
}

template <typename T = QWidget> T *control(QWidget &parent, const char *name)
{
    return parent.findChild<T *>(QLatin1String(name));
}

inline QStringList rowsOf(QAbstractItemView *view)
{
    QStringList rows;
    for (int i = 0; i < view->model()->rowCount(); ++i)
        rows << view->model()->index(i, 0).data(Qt::UserRole).toString();
    return rows;
}
