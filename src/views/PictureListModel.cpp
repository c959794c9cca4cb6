#include "views/PictureListModel.h"

#include <QDateTime>
#include <QPixmap>

#include "photo/iPodPhoto.h"

namespace corvane::views {

TPictureListModel::TPictureListModel(QObject* parent) : QAbstractListModel(parent) {}

void TPictureListModel::SetLibrary(TIpodPhotoDb* db) {
    beginResetModel();
    FDb = db;
    FTags.clear();
    FFirstRow.clear();
    FNextRow.clear();
    FCache.SetLibrary(db);
    endResetModel();
}

void TPictureListModel::Fill(bool cameraRoll, std::vector<int> tags) {
    beginResetModel();
    FCameraRoll = cameraRoll;
    const int count =
        FDb == nullptr ? 0 : (cameraRoll ? FDb->CameraPhotos.Count() : FDb->Photos.Count());
    std::erase_if(tags, [count](int tag) { return tag < 0 || tag >= count; });
    FTags = std::move(tags);
    FFirstRow.assign(static_cast<size_t>(count), -1);
    FNextRow.assign(FTags.size(), -1);
    for (int row = static_cast<int>(FTags.size()) - 1; row >= 0; --row) {
        int& first = FFirstRow[static_cast<size_t>(FTags[static_cast<size_t>(row)])];
        FNextRow[static_cast<size_t>(row)] = first;
        first = row;
    }
    endResetModel();
}

void TPictureListModel::Clear() {
    beginResetModel();
    FTags.clear();
    FFirstRow.clear();
    FNextRow.clear();
    FCache.Clear();
    endResetModel();
}

std::vector<int> TPictureListModel::RowsOf(int tag) const {
    std::vector<int> rows;
    if (tag < 0 || static_cast<size_t>(tag) >= FFirstRow.size())
        return rows;
    for (int row = FFirstRow[static_cast<size_t>(tag)]; row >= 0;
         row = FNextRow[static_cast<size_t>(row)])
        rows.push_back(row);
    return rows;
}

void TPictureListModel::PreviewChanged(bool cameraRoll, int tag, bool onScreen) {
    if (onScreen)
        FCache.Refresh(cameraRoll, tag);
    else
        FCache.Invalidate(cameraRoll, tag);
}

void TPictureListModel::ChecksChanged() {
    if (!FTags.empty())
        emit dataChanged(index(0), index(static_cast<int>(FTags.size()) - 1), {Qt::CheckStateRole});
}

bool TPictureListModel::Checked(int tag) const {
    if (FCameraRoll) {
        const TCamPhotoItem* file = FDb->CameraPhotos.Find(tag);
        return file != nullptr && file->Checked;
    }
    const TPhotoItem* photo = FDb->Photos.Find(tag);
    return photo != nullptr && photo->Checked;
}

int TPictureListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FTags.size());
}

QVariant TPictureListModel::data(const QModelIndex& index, int role) const {
    if (FDb == nullptr || !index.isValid() || index.row() >= static_cast<int>(FTags.size()))
        return {};
    const int tag = Tag(index.row());
    // A tag that names no picture (the list changed under the view) shows nothing.
    if (FCameraRoll ? !FDb->CameraPhotos.Has(tag) : !FDb->Photos.Has(tag))
        return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: {
            if (!FCameraRoll)
                return QString::fromStdString(FDb->Photos.Items(tag).Name);
            // The file name, and below it the date taken when the library knows it.
            const TCamPhotoItem& item = FDb->CameraPhotos.Items(tag);
            const QString date = DateText(item.DateTaken);
            const QString name = QString::fromStdString(item.FileName);
            return date.isEmpty() ? name : name + '\n' + date;
        }
        case CloudRole:
            return !FCameraRoll && !FDb->Photos.Items(tag).Local;
        case Qt::CheckStateRole:
            return Checked(tag) ? Qt::Checked : Qt::Unchecked;
        case TagRole:
            return tag;
        case ThumbRole:
            return FCache.Pixmap(FCameraRoll, tag);
        default:
            return {};
    }
}

bool TPictureListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (FDb == nullptr || role != Qt::CheckStateRole || !index.isValid() ||
        index.row() >= static_cast<int>(FTags.size()))
        return false;
    const bool checked = value.toInt() == Qt::Checked;
    emit ItemCheckChange(index.row(), checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QString TPictureListModel::DateText(const std::optional<int64_t>& seconds) {
    if (!seconds)
        return {};
    return QDateTime::fromSecsSinceEpoch(*seconds).toString("yyyy-MM-dd hh:mm");
}

Qt::ItemFlags TPictureListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable |
           Qt::ItemNeverHasChildren;
}

}  // namespace corvane::views
