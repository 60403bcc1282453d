#include "launch.h"

#include "platform.h"

#include <QDir>

namespace core {

namespace {

qsizetype lastSeparator(const QString &path)
{
    for (qsizetype i = path.size(); i > 0; --i) {
        if (platform::isSeparator(path.at(i - 1)))
            return i - 1;
    }
    return -1;
}

// The folder that holds `file`, "" when it is named without one.
QString folderOf(const QString &file)
{
    const qsizetype cut = lastSeparator(file);
    return cut < 0 ? QString() : file.left(qMax(cut, platform::rootLength(file)));
}

// The name without its last extension; a leading dot starts no extension.
QString stem(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QStringList mapsIn(const QString &folder)
{
    const Result<Listing> listing = readDirectory(folder);
    QStringList paths;
    if (listing.ok()) {
        for (const QString &name : matchingFiles(listing.value(), QStringLiteral("*.map")))
            paths.append(joinPath(folder, name));
    }
    return paths;
}

} // namespace

QString toolPath(const QString &programFolder)
{
    return joinPath(programFolder, QString::fromLatin1(toolName));
}

QStringList toolArguments(const QString &bspFile, const QString &outputFolder)
{
    return {QStringLiteral("-bsp2map"), bspFile, QStringLiteral("-output"), outputFolder};
}

MapFiles::MapFiles(const QString &bspFile, const QString &outputFolder)
{
    QString folder = outputFolder.isEmpty() ? folderOf(bspFile) : outputFolder;
    // Not tidied: "." and ".." are left for the system to follow, as the tool's are.
    if (platform::rootLength(folder) == 0)
        folder = folder.isEmpty() ? workingDirectory() : joinPath(workingDirectory(), folder);
    this->outputFolder = folder;
    const QString name = bspFile.mid(lastSeparator(bspFile) + 1);
    const bool package = name.endsWith(QLatin1String(".pk3"), Qt::CaseInsensitive);
    if (!package)
        expectedMap = joinPath(folder, stem(name) + QLatin1String(".map"));
    for (const QString &path : package ? mapsIn(folder) : QStringList{expectedMap}) {
        if (const std::optional<FileStamp> stamp = fileStamp(path))
            before.insert(path, *stamp);
    }
}

QList<WrittenMap> MapFiles::written() const
{
    QList<WrittenMap> maps;
    for (const QString &path :
         expectedMap.isEmpty() ? mapsIn(outputFolder) : QStringList{expectedMap}) {
        const std::optional<FileStamp> stamp = fileStamp(path);
        const auto old = before.constFind(path);
        if (stamp && (old == before.cend() || *old != *stamp))
            maps.append({path, stamp->size});
    }
    return maps;
}

Result<Conversion> startConversion(const QString &programFolder, const QString &bspFile,
                                   const QString &outputFolder)
{
    Conversion conversion;
    conversion.bspFile = bspFile;
    conversion.program = toolPath(programFolder);
    conversion.arguments = toolArguments(bspFile, outputFolder);
    // A relative path would be looked up from the working directory.
    if (!QDir::isAbsolutePath(conversion.program))
        return Error{Error::NoProgramFolder};
    conversion.maps = MapFiles(bspFile, outputFolder);
    const Result<ToolRun *> run = ToolRun::start(conversion.program, conversion.arguments);
    if (!run.ok())
        return run.error();
    conversion.run = run.value();
    return conversion;
}

} // namespace core
