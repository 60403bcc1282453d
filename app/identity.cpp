#include "identity.h"

#include <QApplication>
#include <QIcon>

void setUpIdentity(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("Vostrand"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QApplication::setDesktopFileName(QStringLiteral("vostrand"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vostrand-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/vostrand-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/vostrand.svg"));
    app.setWindowIcon(icon);
}
