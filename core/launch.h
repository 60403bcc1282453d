#pragma once

#include "toolrun.h"

#include <QHash>
#include <QString>
#include <QStringList>

namespace core {

inline constexpr const char *toolName = "bspc.exe";

// The converter's full path: the program folder joined with the tool name.
QString toolPath(const QString &programFolder);
// The converter's arguments; each field is passed exactly as typed.
QStringList toolArguments(const QString &bspFile, const QString &outputFolder);

struct WrittenMap {
    QString path;
    qint64 size = 0;
};

// The .map files that a conversion may write, as they stood before it started,
// so that what it wrote can be told from what was there: <name>.map for a BSP
// file, every .map file in the folder for a .pk3, which holds many maps.
class MapFiles {
public:
    MapFiles() = default;
    // An empty output folder means the BSP file's own, as the converter reads it.
    MapFiles(const QString &bspFile, const QString &outputFolder);

    // Absolute; a relative one is taken from the working directory, as the tool does.
    const QString &folder() const { return outputFolder; }
    // The one map a BSP file gives, "" for a .pk3.
    const QString &expected() const { return expectedMap; }
    // What was written since: new files, and files changed or replaced.
    QList<WrittenMap> written() const;

private:
    QString outputFolder;
    QString expectedMap;
    QHash<QString, FileStamp> before;
};

struct Conversion {
    QString bspFile;
    QString program;
    QStringList arguments;
    ToolRun *run = nullptr; // belongs to the application
    MapFiles maps;          // as they were just before the start
};

// Starts the converter without waiting for it.
Result<Conversion> startConversion(const QString &programFolder, const QString &bspFile,
                                   const QString &outputFolder);

} // namespace core
