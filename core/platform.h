// What a platform file supplies besides the functions of core.h marked as its
// own (workingDirectory, localPath, isDirectory, drives, startDetached).
// CMake compiles one set of platform files per OS.
#pragma once

#include "core.h"

namespace core::platform {

// Full path of the running executable, as the OS reports it.
QString executablePath();
// One pass over a directory, as core::readDirectory describes.
Result<Listing> readDirectory(const QString &path);

QChar separator();
bool isSeparator(QChar c);
// Length of the root at the start of `path`, 0 for a relative path.
qsizetype rootLength(const QString &path);

} // namespace core::platform
