#include "listcontrols.h"

#include "platform.h"
#include "ui_runtime.h"

#include <QAbstractListModel>
#include <QDir>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <vector>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

namespace ui {

namespace {

DirectoryReader directoryReader = nullptr;

#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity pathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity pathCase = Qt::CaseSensitive;
#endif

// Length of the root at the start of `path`: "/" here, "c:\" or "c:" on Windows.
qsizetype rootLength(const QString &path)
{
#ifdef Q_OS_WIN
    if (path.size() >= 2 && path.at(1) == QLatin1Char(':') && path.at(0).isLetter())
        return path.size() >= 3 && platform::isSeparator(path.at(2)) ? 3 : 2;
#endif
    return !path.isEmpty() && platform::isSeparator(path.at(0)) ? 1 : 0;
}

QString rootOf(const QString &path)
{
    const qsizetype length = rootLength(path);
    if (length == 0)
        return {};
#ifdef Q_OS_WIN
    if (length >= 2)
        return path.left(2) + platform::nativeSeparator();
#endif
    return QString(platform::nativeSeparator());
}

// The components after the root, with "." and ".." applied by name only:
// following links here would show a different chain than the one typed.
QStringList components(const QString &path)
{
    QStringList parts;
    qsizetype start = rootLength(path);
    for (qsizetype i = start; i <= path.size(); ++i) {
        if (i < path.size() && !platform::isSeparator(path.at(i)))
            continue;
        const QStringView part = QStringView(path).mid(start, i - start);
        start = i + 1;
        if (part.isEmpty() || part == u".")
            continue;
        if (part == u"..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part.toString());
    }
    return parts;
}

QString resolvePath(const QString &base, const QString &path)
{
    const QString full = rootLength(path) > 0 ? path : joinPath(base, path);
    return rootOf(full) + components(full).join(platform::nativeSeparator());
}

// `path` against `base`, or against the working directory while there is no base.
QString absolutePath(const QString &base, const QString &path)
{
    if (rootLength(path) > 0)
        return resolvePath(QString(), path);
    return resolvePath(base.isEmpty() ? workingDirectory() : base, path);
}

bool holds(const QString &drive, const QString &path)
{
    if (drive.isEmpty() || !path.startsWith(drive, pathCase))
        return false;
    return path.size() == drive.size() || endsWithSeparator(drive) ||
           platform::isSeparator(path.at(drive.size()));
}

QString longestDrive(const QStringList &drives, const QString &path)
{
    QString best;
    for (const QString &drive : drives) {
        if (drive.size() > best.size() && holds(drive, path))
            best = drive;
    }
    return best;
}

qsizetype indexOfDrive(const QStringList &drives, const QString &drive)
{
    for (qsizetype i = 0; i < drives.size(); ++i) {
        if (drives.at(i).compare(drive, pathCase) == 0)
            return i;
    }
    return -1;
}

bool isHidden(const QString &name)
{
    return name.startsWith(QLatin1Char('.'));
}

class NameMatcher {
public:
    explicit NameMatcher(const QString &pattern)
    {
        bool any = false;
        for (const QString &raw : pattern.split(QLatin1Char(';'))) {
            const QString part = raw.trimmed();
            if (part.isEmpty())
                continue;
            any = true;
            // "*.*" takes names without a dot too, as it always did.
            if (part == QLatin1String("*") || part == QLatin1String("*.*")) {
                all = true;
                return;
            }
            const QStringView tail = QStringView(part).mid(1);
            if (part.startsWith(QLatin1Char('*')) && !tail.isEmpty() &&
                !tail.contains(QLatin1Char('*')) && !tail.contains(QLatin1Char('?')) &&
                !tail.contains(QLatin1Char('['))) {
                suffixes.append(tail.toString());
                continue;
            }
            // Names hold no separators, so the path rules of the conversion never apply.
            QRegularExpression expression(QRegularExpression::wildcardToRegularExpression(part),
                                          QRegularExpression::CaseInsensitiveOption);
            expression.optimize();
            expressions.append(expression);
        }
        all = !any; // no pattern at all filters nothing
    }

    bool matches(const QString &name) const
    {
        if (all)
            return true;
        for (const QString &suffix : suffixes) {
            if (name.endsWith(suffix, Qt::CaseInsensitive))
                return true;
        }
        for (const QRegularExpression &expression : expressions) {
            if (expression.match(name).hasMatch() ||
                (hasEscapedBytes(name) && expression.match(displayName(name)).hasMatch()))
                return true;
        }
        return false;
    }

private:
    bool all = false;
    QStringList suffixes;
    QList<QRegularExpression> expressions;
};

// Case-folded once per name, so the comparisons stay plain code-unit compares.
struct SortKey {
    QString folded;
    QString name;
};

QStringList sortedNames(std::vector<SortKey> &keys)
{
    std::sort(keys.begin(), keys.end(), [](const SortKey &a, const SortKey &b) {
        const int order = a.folded.compare(b.folded);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    QStringList names;
    names.reserve(qsizetype(keys.size()));
    for (SortKey &key : keys)
        names.append(std::move(key.name));
    return names;
}

} // namespace

void setDirectoryReader(DirectoryReader reader)
{
    directoryReader = reader;
}

QString readDirectory(const QString &path, Listing &entries)
{
    return directoryReader ? directoryReader(path, entries)
                           : platform::readDirectory(path, entries);
}

QString workingDirectory()
{
#ifdef Q_OS_WIN
    return QDir::toNativeSeparators(QDir::currentPath());
#else
    // QDir decodes the bytes lossily; getcwd keeps them.
    QByteArray buffer(4096, Qt::Uninitialized);
    while (!getcwd(buffer.data(), size_t(buffer.size()))) {
        if (errno != ERANGE)
            return QDir::currentPath();
        buffer.resize(buffer.size() * 2);
    }
    return decodeName(buffer.constData());
#endif
}

QStringList matchingFiles(const Listing &entries, const QString &pattern)
{
    const NameMatcher matcher(pattern);
    std::vector<SortKey> keys;
    for (const DirEntry &entry : entries) {
        if (!entry.isDir && !isHidden(entry.name) && matcher.matches(entry.name))
            keys.push_back({entry.name.toCaseFolded(), entry.name});
    }
    return sortedNames(keys);
}

QStringList sortedSubdirectories(const Listing &entries)
{
    std::vector<SortKey> keys;
    for (const DirEntry &entry : entries) {
        if (entry.isDir && !isHidden(entry.name))
            keys.push_back({entry.name.toCaseFolded(), entry.name});
    }
    return sortedNames(keys);
}

// --- Models ------------------------------------------------------------------

// A plain list of names, shown readably and handed out exactly (Qt::UserRole).
// Both the drive list and the file list are one of these.
class NameListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setNames(QStringList list)
    {
        beginResetModel();
        names = std::move(list);
        endResetModel();
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(names.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= names.size())
            return {};
        if (role == Qt::DisplayRole)
            return displayName(names.at(index.row()));
        if (role == Qt::UserRole)
            return names.at(index.row());
        return {};
    }

    QStringList names;
};

// The chain of open folders from the root down, then the subfolders of the last.
class DirListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setContents(const QString &path, QStringList subfolders)
    {
        beginResetModel();
        openPath = path;
        chain.clear();
        chainPaths.clear();
        QString walked = rootOf(path);
        if (!walked.isEmpty()) {
            chain.append(walked);
            chainPaths.append(walked);
        }
        for (const QString &part : components(path)) {
            walked = joinPath(walked, part);
            chain.append(part);
            chainPaths.append(walked);
        }
        children = std::move(subfolders);
        endResetModel();
    }

    int openRow() const { return int(chain.size()) - 1; }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(chain.size() + children.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid())
            return {};
        const qsizetype row = index.row();
        const bool inChain = row < chain.size();
        switch (role) {
        case Qt::DisplayRole:
            return displayName(inChain ? chain.at(row) : children.at(row - chain.size()));
        case Qt::DecorationRole:
            return inChain ? openIcon : closedIcon;
        case DirList::PathRole:
            return inChain ? chainPaths.at(row)
                           : joinPath(openPath, children.at(row - chain.size()));
        case DirList::IndentRole:
            return int(inChain ? row : chain.size());
        default:
            return {};
        }
    }

    QIcon openIcon;
    QIcon closedIcon;

private:
    QString openPath;
    QStringList chain;      // names shown, the root first
    QStringList chainPaths; // what each of them opens
    QStringList children;
};

namespace {

// Shifts each row by its level, which is all the tree a folder list needs.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem shifted = option;
        const int indent = indentOf(option, index);
        if (option.direction == Qt::RightToLeft)
            shifted.rect.setRight(option.rect.right() - indent);
        else
            shifted.rect.setLeft(option.rect.left() + indent);
        QStyledItemDelegate::paint(painter, shifted, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += indentOf(option, index);
        return size;
    }

private:
    static int indentOf(const QStyleOptionViewItem &option, const QModelIndex &index)
    {
        return index.data(DirList::IndentRole).toInt() * option.fontMetrics.averageCharWidth() * 2;
    }
};

void setUpView(QListView *view)
{
    view->setUniformItemSizes(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

} // namespace

// --- DriveList ---------------------------------------------------------------

DriveList::DriveList(QWidget *parent)
    : QComboBox(parent)
    , drivesModel(new NameListModel(this))
{
    setModel(drivesModel);
    setDrives(platform::drives());
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= drivesModel->names.size())
            return;
        const QString picked = drivesModel->names.at(index);
        if (picked == shownDrive)
            return;
        shownDrive = picked;
        emit driveChanged(picked);
    });
}

void DriveList::setDrives(const QStringList &drives)
{
    drivesModel->setNames(drives);
    QString pick = driveOf(workingDirectory());
    if (pick.isEmpty() && !drives.isEmpty())
        pick = drives.first();
    selectDrive(pick);
}

void DriveList::setDrive(const QString &drive)
{
    if (indexOfDrive(drivesModel->names, drive) >= 0)
        selectDrive(drive);
}

void DriveList::selectDrive(const QString &drive)
{
    const qsizetype index = indexOfDrive(drivesModel->names, drive);
    setCurrentIndex(int(index));
    shownDrive = index >= 0 ? drivesModel->names.at(index) : QString();
}

QString DriveList::driveOf(const QString &path) const
{
    return longestDrive(drivesModel->names, path);
}

// --- DirList -----------------------------------------------------------------

DirList::DirList(QWidget *parent)
    : QListView(parent)
    , rows(new DirListModel(this))
{
    rows->openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    rows->closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    setModel(rows);
    setItemDelegate(new IndentDelegate(this));
    setUpView(this);
    // Not `activated`: on some desktops a single click activates.
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        opened = true;
        openRow(index);
    });

    const QString start = absolutePath(QString(), workingDirectory());
    Listing read;
    if (readDirectory(start, read).isEmpty())
        entries = std::move(read);
    display(start);
}

QString DirList::setPath(const QString &path)
{
    const QString target = absolutePath(openPath, path);
    Listing read;
    const QString reason = readDirectory(target, read);
    if (!reason.isEmpty())
        return reason;
    entries = std::move(read);
    display(target);
    emit listingRead(openPath);
    return {};
}

void DirList::display(const QString &path)
{
    openPath = path;
    rows->setContents(path, sortedSubdirectories(entries));
    const QModelIndex open = rows->index(rows->openRow());
    setCurrentIndex(open);
    scrollTo(open);
}

void DirList::openRow(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const QString target = index.data(PathRole).toString();
    const QString reason = setPath(target);
    if (!reason.isEmpty())
        emit openFailed(target, reason);
}

void DirList::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        currentIndex().isValid()) {
        event->accept();
        openRow(currentIndex());
        return;
    }
    QListView::keyPressEvent(event);
}

void DirList::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QPersistentModelIndex index = indexAt(event->position().toPoint());
    opened = false;
    QListView::mouseDoubleClickEvent(event);
    // Qt ignores a double-click whose first press it did not see on the same row;
    // the row under the pointer is still the one meant.
    if (!opened && event->button() == Qt::LeftButton && index.isValid())
        openRow(index);
}

// --- FileList ----------------------------------------------------------------

FileList::FileList(QWidget *parent)
    : QListView(parent)
    , rows(new NameListModel(this))
{
    setModel(rows);
    setUpView(this);
}

void FileList::setListing(const QString &path, const Listing &listing)
{
    filesPath = absolutePath(filesPath, path);
    entries = listing;
    refilter();
}

void FileList::setPattern(const QString &pattern)
{
    filter = pattern;
    refilter();
}

void FileList::refilter()
{
    rows->setNames(matchingFiles(entries, filter));
}

QString FileList::fileName() const
{
    const QModelIndex index = currentIndex();
    if (!index.isValid() || !selectionModel()->isSelected(index))
        return {};
    return index.data(Qt::UserRole).toString();
}

void FileList::currentChanged(const QModelIndex &now, const QModelIndex &before)
{
    QListView::currentChanged(now, before);
    // Resets and focus also move the current row; only the user's moves are clicks.
    // The signal waits for the end of the event, when the row is selected too.
    if (byUser && now.isValid())
        clickPending = true;
}

bool FileList::takeClick()
{
    byUser = false;
    const bool click = clickPending;
    clickPending = false;
    return click;
}

void FileList::mousePressEvent(QMouseEvent *event)
{
    byUser = true;
    clickPending = false;
    QListView::mousePressEvent(event);
    // A click on the row already current moves nothing, yet is still a click.
    const QModelIndex hit = indexAt(event->position().toPoint());
    const bool onCurrent = hit.isValid() && hit == currentIndex();
    if (takeClick() || onCurrent)
        emit fileClicked();
}

void FileList::mouseMoveEvent(QMouseEvent *event)
{
    byUser = true;
    clickPending = false;
    QListView::mouseMoveEvent(event);
    if (takeClick())
        emit fileClicked();
}

void FileList::keyPressEvent(QKeyEvent *event)
{
    byUser = true;
    clickPending = false;
    QListView::keyPressEvent(event);
    // Space picks the row that Tab made current without selecting it, which
    // is the only way to pick a lone file by keyboard.
    const bool picked = event->key() == Qt::Key_Space && !fileName().isEmpty();
    if (takeClick() || picked)
        emit fileClicked();
}

} // namespace ui
