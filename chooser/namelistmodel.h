#pragma once

#include "core.h"

#include <QAbstractListModel>

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
            return core::displayName(names.at(index.row()));
        if (role == Qt::UserRole)
            return names.at(index.row());
        return {};
    }

    QStringList names;
};
