#include "application.h"

#include "ui.h"

#include <exception>

namespace ui {

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    QString what;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        what = QString::fromLocal8Bit(e.what());
    } catch (...) {
        what = QStringLiteral("erro desconhecido");
    }
    showError(activeWindow(), QStringLiteral("Ocorreu um erro inesperado: %1").arg(what));
    return false;
}

} // namespace ui
