// What a platform file supplies besides the functions of core.h and toolrun.h
// marked as its own.
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

// A descriptor that turns readable once the child `pid` has exited, or -1
// when the system has none to give.
int exitDescriptor(qint64 pid);

} // namespace core::platform
