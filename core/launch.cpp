#include "launch.h"

#include "core.h"

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

Result<> startConversion(const QString &programFolder, const QString &bspFile,
                         const QString &outputFolder)
{
    const QString program = toolPath(programFolder);
    // A relative path would be looked up from the working directory.
    if (!QDir::isAbsolutePath(program))
        return Error{Error::NoProgramFolder};
    return startDetached(program, toolArguments(bspFile, outputFolder));
}

} // namespace core
