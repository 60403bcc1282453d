#include "identity.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QLibraryInfo>
#include <QLocale>
#include <QPixmap>
#include <QTranslator>

void setUpIdentity(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("Vostrand"));
    QApplication::setApplicationVersion(QStringLiteral(VOSTRAND_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.vostrand.Vostrand"));
    // Read as PNG outright: letting Qt guess the format loads every image
    // plugin at start-up. The SVG serves the desktop's icon theme only.
    QIcon icon;
    for (const char *file : {":/icons/vostrand-16.png", ":/icons/vostrand-32.png"}) {
        QImageReader reader(QLatin1String(file), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
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
