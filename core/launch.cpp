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

QString startConversion(const QString &programFolder, const QString &bspFile,
                        const QString &outputFolder)
{
    const QString program = toolPath(programFolder);
    // A relative path would be looked up from the working directory.
    if (!QDir::isAbsolutePath(program))
        return QStringLiteral("Não foi possível iniciar %1: a pasta do programa é desconhecida")
            .arg(displayName(program));
    const StartResult result = startDetached(program, toolArguments(bspFile, outputFolder));
    if (result.ok)
        return {};
    return QStringLiteral("Não foi possível iniciar %1: %2")
        .arg(displayName(program), result.error);
}

} // namespace core
