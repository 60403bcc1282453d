#include "identity.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void setUpIdentity(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("Vostrand"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QApplication::setDesktopFileName(QStringLiteral("org.vostrand.Vostrand"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vostrand-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/vostrand-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/vostrand.svg"));
    app.setWindowIcon(icon);

    // The program speaks Portuguese whatever the system locale, so Qt's own
    // texts (context menus, box buttons) must too.
    const QLocale portuguese(QLocale::Portuguese, QLocale::Brazil);
    QLocale::setDefault(portuguese);
    auto *translator = new QTranslator(&app);
    if (translator->load(portuguese, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    else
        delete translator;
}
