#pragma once

#include <QString>
#include <QStringList>

#include "result.h"

namespace core {

inline constexpr const char *toolName = "bspc.exe";

// The converter's full path: the program folder joined with the tool name.
QString toolPath(const QString &programFolder);
// The converter's arguments; each field is passed exactly as typed.
QStringList toolArguments(const QString &bspFile, const QString &outputFolder);

// Starts the converter without waiting for it.
Result<> startConversion(const QString &programFolder, const QString &bspFile,
                         const QString &outputFolder);

} // namespace core
