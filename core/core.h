// What the windows need of the OS, with Qt Core only: lossless names, paths,
// directory listing and matching, drives, and the converter's start.
// workingDirectory, localPath, fileUrl, isDirectory, fileStamp, drives,
// signalName and the tool's start (toolrun.h) come from the platform files that
// CMake picks for the OS.
#pragma once

#include "coreresult.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QUrl;

namespace core {

// --- Names -------------------------------------------------------------------

// File names are bytes on POSIX. These convert losslessly: each byte that is
// not part of valid UTF-8 becomes the lone surrogate U+DC80 + byte, and back.
QString decodeName(QByteArrayView bytes);
QByteArray encodeName(const QString &name);
// Whether `name` holds escaped bytes; they make PCRE reject the whole subject.
bool hasEscapedBytes(const QString &name);
// The name as it may be shown, on one line: escaped bytes appear as U+FFFD,
// control characters as their symbols (a line break as U+240A).
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
// The file:// URL of the absolute `path`, its bytes percent-encoded:
// localPath() gives it back.
QUrl fileUrl(const QString &path);
bool isDirectory(const QString &path);

// What tells one state of a file from another: which file it is, when it last
// changed, and its size. A file rewritten in place or replaced gets a new one.
struct FileStamp {
    quint64 device = 0, inode = 0;
    qint64 changedNs = 0, size = 0;
    friend bool operator==(const FileStamp &, const FileStamp &) = default;
};
// The stamp of the plain file at `path` (links followed); nothing for anything else.
std::optional<FileStamp> fileStamp(const QString &path);

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

// How a tool ended.
struct ToolExit {
    bool bySignal = false;
    int code = 0;         // the exit status, or the number of the signal
    qint64 elapsedNs = 0; // from its start to its exit
};
// The system's description of a signal, such as "Segmentation fault".
QString signalName(int signal);

} // namespace core
