// What the windows need of the OS, with Qt Core only: lossless names, paths,
// directory listing and matching, drives, and the converter's start.
// workingDirectory, localPath, isDirectory, drives and startDetached come from
// the platform file that CMake picks for the OS.
#pragma once

#include "result.h"

#include <QList>
#include <QString>
#include <QStringList>

class QUrl;

namespace core {

// --- Names -------------------------------------------------------------------

// File names are bytes on POSIX. These convert losslessly: each byte that is
// not part of valid UTF-8 becomes the lone surrogate U+DC80 + byte, and back.
QString decodeName(QByteArrayView bytes);
QByteArray encodeName(const QString &name);
// Whether `name` holds escaped bytes; they make PCRE reject the whole subject.
bool hasEscapedBytes(const QString &name);
// The name as it may be shown: escaped bytes appear as U+FFFD.
QString displayName(const QString &name);

// --- Paths -------------------------------------------------------------------

// `folder` and `name` with exactly one separator between them.
QString joinPath(const QString &folder, const QString &name);
// The root of `path` ("/"), "" for a relative path.
QString rootOf(const QString &path);
// The components after the root, with "." and ".." applied by name only:
// following links here would show a different chain than the one typed.
QStringList components(const QString &path);
// `path` against `base`, or against the working directory while there is no base.
QString absolutePath(const QString &base, const QString &path);
// The working directory, with the exact bytes of its name.
QString workingDirectory();
// The folder of the running executable as the OS reports it. It ends in a
// separator only at the root.
QString programFolder();
// The local path that a file:// URL names, with its bytes kept exactly (a
// file manager percent-encodes names that are not UTF-8); "" for other URLs.
QString localPath(const QUrl &url);
bool isDirectory(const QString &path);

// --- Drives ------------------------------------------------------------------

// Mount points that a user would pick a drive from, "/" first.
QStringList drives();
// The longest of `drives` that holds `path`, "" when none does.
QString longestDrive(const QStringList &drives, const QString &path);

// --- Listing -----------------------------------------------------------------

struct DirEntry {
    QString name; // lossless, see decodeName()
    bool isDir = false;
};
using Listing = QList<DirEntry>;

// The entries of `path` (without "." and ".."). Symbolic links count as what
// they point to; dangling links and loops are left out.
Result<Listing> readDirectory(const QString &path);
// Tests put a reader here to make a directory fail; nullptr restores the real one.
using DirectoryReader = Result<Listing> (*)(const QString &path);
void setDirectoryReader(DirectoryReader reader);

// Plain files whose names match `pattern` (wildcards, ';' between alternatives, any
// case), hidden names left out, sorted without regard to case.
QStringList matchingFiles(const Listing &entries, const QString &pattern);
// Directories, hidden ones left out, sorted without regard to case.
QStringList sortedSubdirectories(const Listing &entries);

// --- Processes ---------------------------------------------------------------

// Starts `program` (an exact path: no PATH search, no shell) with `arguments`
// and returns at once. The child inherits the working directory and only the
// standard streams; nothing waits on it, yet it never stays a zombie.
Result<> startDetached(const QString &program, const QStringList &arguments);

} // namespace core
