#include "dirlist.h"

#include <QAbstractListModel>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyledItemDelegate>

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
        QString walked = core::rootOf(path);
        if (!walked.isEmpty()) {
            chain.append(walked);
            chainPaths.append(walked);
        }
        for (const QString &part : core::components(path)) {
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

} // namespace

DirList::DirList(QWidget *parent)
    : QListView(parent)
    , rows(new DirListModel(this))
{
    rows->openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    rows->closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    setModel(rows);
    setItemDelegate(new IndentDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Not `activated`: on some desktops a single click activates.
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        opened = true;
        openRow(index);
    });

    const QString start = core::absolutePath(QString(), core::workingDirectory());
    core::Result<core::Listing> read = core::readDirectory(start);
    if (read.ok())
        entries = std::move(read.value());
    display(start);
}

core::Result<> DirList::setPath(const QString &path)
{
    const QString target = core::absolutePath(openPath, path);
    core::Result<core::Listing> read = core::readDirectory(target);
    if (!read.ok())
        return read.error();
    entries = std::move(read.value());
    display(target);
    emit listingRead(openPath);
    return {};
}

void DirList::display(const QString &path)
{
    openPath = path;
    rows->setContents(path, core::sortedSubdirectories(entries));
    const QModelIndex open = rows->index(rows->openRow());
    setCurrentIndex(open);
    scrollTo(open);
}

void DirList::openRow(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const QString target = index.data(PathRole).toString();
    const core::Result<> opened = setPath(target);
    if (!opened.ok())
        emit openFailed(target, opened.error());
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
