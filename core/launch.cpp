#include "launch.h"

#include "plan.h"

#include <QDir>

namespace core {

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
    const auto bytes = [](const QString &name) { return encodeName(name).toStdString(); };
    const auto text = [](const std::string &name) { return decodeName(name); };
    // Not tidied: "." and ".." are left for the system to follow, as the tool's are.
    const bsp2map::Plan plan =
        bsp2map::makePlan(bytes(bspFile), bytes(outputFolder), bytes(workingDirectory()));
    inputName = text(plan.name);
    this->outputFolder = text(plan.folder.native());
    wholePackage = plan.whole;
    if (plan.maps) {
        for (const bsp2map::PlannedMap &map : *plan.maps) {
            const QString path = text(map.target.native());
            if (!expectedMaps.contains(path))
                expectedMaps.append(path);
        }
    }
    for (const QString &path : std::as_const(expectedMaps)) {
        if (const std::optional<FileStamp> stamp = fileStamp(path))
            before.insert(path, *stamp);
    }
}

QList<WrittenMap> MapFiles::written() const
{
    QList<WrittenMap> maps;
    for (const QString &path : expectedMaps) {
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
