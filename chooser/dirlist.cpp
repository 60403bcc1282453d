#include "dirlist.h"

#include "ui.h"

#include <QAbstractListModel>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>

// The chain of open folders from the drive down, then the subfolders of the last.
class DirListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setContents(const QString &drive, const QString &path, QStringList subfolders)
    {
        beginResetModel();
        openPath = path;
        chain = {drive};
        chainPaths = {drive};
        QString walked = drive;
        for (const QString &part : core::components(path).mid(core::components(drive).size())) {
            walked = core::joinPath(walked, part);
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
            return core::displayName(inChain ? chain.at(row) : children.at(row - chain.size()));
        case Qt::DecorationRole:
            return inChain ? openIcon : closedIcon;
        case DirList::PathRole:
            return inChain ? chainPaths.at(row)
                           : core::joinPath(openPath, children.at(row - chain.size()));
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
    QStringList chain;      // names shown, the drive first
    QStringList chainPaths; // what each of them opens
    QStringList children;
};

// Shifts each row by its level, which is all the tree a folder list needs. The
// shift stops at a third of the list, so that deep folders keep their names in
// view. Every row is as wide as the widest of the chain: the chain can scroll
// into view sideways, and a folder's many subfolders are never measured.
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

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return rowSize;
    }

    // Measures the rows of the chain, the last one open; returns that one's width.
    int measureChain(const QStyleOptionViewItem &option, const QAbstractItemModel &model,
                     int openRow)
    {
        rowSize = {};
        int openWidth = 0;
        for (int row = 0; row <= openRow; ++row) {
            const QModelIndex index = model.index(row, 0);
            QSize size = QStyledItemDelegate::sizeHint(option, index);
            size.rwidth() += indentOf(option, index);
            rowSize = rowSize.expandedTo(size);
            openWidth = size.width();
        }
        return openWidth;
    }

    static int indentOf(const QStyleOptionViewItem &option, const QModelIndex &index)
    {
        const auto *view = qobject_cast<const QAbstractScrollArea *>(option.widget);
        const int cap = view ? view->viewport()->width() / 3 : 0;
        const int indent =
            index.data(DirList::IndentRole).toInt() * option.fontMetrics.averageCharWidth() * 2;
        return qMin(indent, cap);
    }

private:
    QSize rowSize;
};

DirList::DirList(QWidget *parent)
    : QListView(parent)
    , rows(new DirListModel(this))
    , indents(new IndentDelegate(this))
{
    rows->openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    rows->closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    setModel(rows);
    setItemDelegate(indents);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Not `activated`: on some desktops a single click activates.
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        opened = true;
        openRow(index);
    });
    // A working directory that is gone is no dead end.
    setNearestPath(core::absolutePath(QString(), core::workingDirectory()));
}

void DirList::setDrive(const QString &drive)
{
    driveRoot = drive;
    display(openPath);
}

core::Result<> DirList::setPath(const QString &path, const QString &drive)
{
    const QString target = core::absolutePath(openPath, path);
    core::Result<core::Listing> read = core::readDirectory(target);
    if (!read.ok())
        return read.error();
    entries = std::move(read.value());
    if (!drive.isEmpty())
        driveRoot = drive;
    display(target);
    emit listingRead(openPath);
    return {};
}

void DirList::setNearestPath(QString path)
{
    core::Result<core::Listing> read = core::readDirectory(path);
    while (!read.ok() && path != core::rootOf(path)) {
        path = core::absolutePath(path, QStringLiteral(".."));
        read = core::readDirectory(path);
    }
    entries = read.ok() ? std::move(read.value()) : core::Listing();
    display(path);
    emit listingRead(path);
}

void DirList::display(const QString &path)
{
    openPath = path;
    if (core::longestDrive({driveRoot}, path).isEmpty())
        driveRoot = core::rootOf(path);
    rows->setContents(driveRoot, path, core::sortedSubdirectories(entries));
    setCurrentIndex(rows->index(rows->openRow()));
    revealOpenRow();
}

// The open folder in view with as much of its chain above it as fits, and
// scrolled sideways only as far as its name needs.
void DirList::revealOpenRow()
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int openWidth = indents->measureChain(option, *rows, rows->openRow());
    scheduleDelayedItemsLayout();
    const QModelIndex open = rows->index(rows->openRow());
    scrollToTop();
    scrollTo(open);
    horizontalScrollBar()->setValue(
        qBound(0, openWidth - viewport()->width(), IndentDelegate::indentOf(option, open)));
}

void DirList::openRow(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const QString target = index.data(PathRole).toString();
    const core::Result<> opened = setPath(target);
    if (opened.ok())
        return;
    // The highlight goes back to the folder whose files are still shown.
    setCurrentIndex(rows->index(rows->openRow()));
    emit openFailed(target, opened.error());
}

bool DirList::event(QEvent *event)
{
    const bool handled = QListView::event(event);
    if (event->type() == QEvent::Paint)
        ui::drawFocusFrame(this);
    return handled;
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

void DirList::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    // The indent's cap follows the width, and the chain must still show.
    revealOpenRow();
}
