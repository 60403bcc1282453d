#pragma once

#include <QString>
#include <QStringList>

namespace core {

inline constexpr const char *toolName = "bspc.exe";

// The converter's full path: the program folder joined with the tool name.
QString toolPath(const QString &programFolder);
// The converter's arguments; each field is passed exactly as typed.
QStringList toolArguments(const QString &bspFile, const QString &outputFolder);

// Starts the converter without waiting for it. Returns an empty string on
// success, otherwise the message to show the user.
QString startConversion(const QString &programFolder, const QString &bspFile,
                        const QString &outputFolder);

} // namespace core
