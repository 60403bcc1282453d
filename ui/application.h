#pragma once

#include <QApplication>

namespace ui {

// The program's QApplication: an exception that escapes an event handler is
// shown in the "Ops!" box instead of ending the program.
class Application : public QApplication {
public:
    Application(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace ui
