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

// The .map files that a conversion is to write, as the converter plans them,
// and how they stood before it started, so that what it wrote can be told from
// what was there: one for a BSP file or a map in a pk3, each of its maps for a
// whole pk3.
class MapFiles {
public:
    MapFiles() = default;
    // The fields as passed to the converter; an empty output folder means the
    // input's own (the pk3's), as the converter reads it.
    MapFiles(const QString &bspFile, const QString &outputFolder);

    // What the conversion is called: the file's name, or the map's in a pk3.
    const QString &name() const { return inputName; }
    // Absolute; a relative one is taken from the working directory, as the tool does.
    const QString &folder() const { return outputFolder; }
    // Every map it is to write; none when the converter cannot take the input.
    const QStringList &expected() const { return expectedMaps; }
    // A whole pk3, whose maps are counted rather than named.
    bool package() const { return wholePackage; }
    // What was written since: new files, and files changed or replaced.
    QList<WrittenMap> written() const;

private:
    QString inputName;
    QString outputFolder;
    QStringList expectedMaps;
    bool wholePackage = false;
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
