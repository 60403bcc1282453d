// What a platform file supplies besides the functions of core.h and toolrun.h
// marked as its own.
// CMake compiles one set of platform files per OS.
#pragma once

#include "core.h"

namespace core::platform {

// Full path of the running executable, as the OS reports it.
QString executablePath();
// Where the working directory was when getcwd cannot tell, as after it was
// removed; "" when that is unknown.
QString lostWorkingDirectory();
// One pass over a directory, as core::readDirectory describes.
Result<Listing> readDirectory(const QString &path);

// Why starting `program` failed with `error`, found by looking at the file
// afterwards: a directory, or a missing "#!" interpreter or ELF loader, which
// the OS reports as the program itself being missing or refused.
Error startFailure(const QByteArray &program, int error);

QChar separator();
bool isSeparator(QChar c);
// Length of the root at the start of `path`, 0 for a relative path.
qsizetype rootLength(const QString &path);

// A descriptor that turns readable once the child `pid` has exited, or -1
// when the system has none to give.
int exitDescriptor(qint64 pid);

} // namespace core::platform
