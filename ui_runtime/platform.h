// What each platform file supplies to the rest of ui_runtime.
#pragma once

#include "ui_runtime.h"

#include <QList>

namespace ui::platform {

// Full path of the running executable, as the OS reports it.
QString executablePath();

StartResult spawnDetached(const QString &program, const QStringList &arguments);

// One pass over a directory. Symbolic links count as what they point to;
// dangling links and loops are left out. Returns an empty string on success,
// otherwise why the directory could not be read.
using RawEntry = DirEntry;
QString readDirectory(const QString &path, QList<RawEntry> &entries);

// Mount points or drive letters that a user would pick a drive from.
QStringList drives();

bool isDirectory(const QString &path);

QChar nativeSeparator();
bool isSeparator(QChar c);

} // namespace ui::platform
