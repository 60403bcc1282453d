#include "filelist.h"

#include "namelistmodel.h"
#include "ui.h"

#include <QKeyEvent>
#include <QMouseEvent>

FileList::FileList(QWidget *parent)
    : QListView(parent)
    , rows(new NameListModel(this))
{
    setModel(rows);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void FileList::setListing(const QString &path, const core::Listing &listing)
{
    filesPath = core::absolutePath(filesPath, path);
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
    rows->setNames(core::matchingFiles(entries, filter));
}

bool FileList::event(QEvent *event)
{
    const bool handled = QListView::event(event);
    if (event->type() == QEvent::Paint)
        ui::drawFocusFrame(this);
    return handled;
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
