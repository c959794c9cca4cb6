#include "views/TrackListModel.h"

#include <QColor>
#include <QGuiApplication>
#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <string_view>

#include "device/iPodDev.h"
#include "gui/Icons.h"
#include "gui/ThemeColours.h"
#include "music/iPodMusic.h"

namespace corvane::views {

namespace {

const char* const kCaptions[tcColumnCount] = {"",      "Name", "Time",   "Artist", "Album",
                                              "Genre", "Size", "Rating", "Plays",  "Kind"};

const char* const kKindNames[] = {"Music", "Movie", "Book", "Tone", "Voice memo"};

bool IsNumberColumn(int column) {
    return column == tcMark || column == tcTime || column == tcSize || column == tcRating ||
           column == tcPlays;
}

// Five places, the rating's stars filled: 0..100 with 20 points a star.
QString Stars(int rating) {
    const int filled = std::clamp((rating + 10) / 20, 0, 5);
    if (filled == 0)
        return {};
    return QString(filled, QChar(0x2605)) + QString(5 - filled, QChar(0x2606));
}

Qt::Alignment ColumnAlignment(int column) {
    if (column == tcTime || column == tcSize || column == tcPlays)
        return Qt::AlignRight | Qt::AlignVCenter;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

unsigned char FoldAz(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}

int64_t NumberKey(const TTrackItem& track, int column) {
    switch (column) {
        case tcMark:
            return track.TransferState;
        case tcTime:
            return track.DurationMs;
        case tcSize:
            return track.FileSize;
        case tcRating:
            return track.Rating;
        case tcPlays:
            return track.PlayCount;
        default:
            return 0;
    }
}

// UTF-8 bytes compare in code point order, so folded texts compare by character code apart
// from a to z, which count as A to Z.
std::string FoldedText(std::string_view text) {
    std::string folded(text.size(), '\0');
    std::transform(text.begin(), text.end(), folded.begin(),
                   [](char c) { return static_cast<char>(FoldAz(c)); });
    return folded;
}

// Stable in both directions: equal keys keep their order.
template <typename TKey>
void SortPositions(std::vector<size_t>& positions, const std::vector<TKey>& keys, bool descending) {
    if (descending)
        std::stable_sort(positions.begin(), positions.end(),
                         [&keys](size_t x, size_t y) { return keys[y] < keys[x]; });
    else
        std::stable_sort(positions.begin(), positions.end(),
                         [&keys](size_t x, size_t y) { return keys[x] < keys[y]; });
}

const std::string& ColumnText(const TTrackItem& track, int column) {
    static const std::string none;
    switch (column) {
        case tcName:
            return track.Title;
        case tcTime:
            return track.DurationText;
        case tcArtist:
            return track.Artist;
        case tcAlbum:
            return track.Album;
        case tcGenre:
            return track.Genre;
        case tcSize:
            return track.SizeText;
        case tcKind: {
            static const std::string kinds[] = {kKindNames[0], kKindNames[1], kKindNames[2],
                                                kKindNames[3], kKindNames[4]};
            return track.Kind <= mkVoiceMemo ? kinds[track.Kind] : none;
        }
        default:
            return none;
    }
}

}  // namespace

QStringList TTrackListModel::KindTexts() {
    QStringList texts;
    for (const char* name : kKindNames)
        texts << name;
    return texts;
}

TTrackListModel::TTrackListModel(TTrackList& tracks, QObject* parent)
    : QAbstractTableModel(parent),
      FTracks(tracks),
      FMarks{app::Picture("mark-red"), app::Picture("mark-green"), app::Picture("mark-blue")} {
    SetPalette(QGuiApplication::palette());
}

void TTrackListModel::SetPalette(const QPalette& palette) {
    FEvenRow = app::EvenRowColour(palette);
    FOddRow = app::OddRowColour(palette);
    if (!FRows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1),
                         {Qt::BackgroundRole});
}

int TTrackListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TTrackListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : tcColumnCount;
}

const TTrackItem* TTrackListModel::TrackAt(int row) const {
    if (row < 0 || row >= rowCount())
        return nullptr;
    return FTracks.Find(FRows[static_cast<size_t>(row)]);
}

QVariant TTrackListModel::data(const QModelIndex& index, int role) const {
    const TTrackItem* track = index.isValid() ? TrackAt(index.row()) : nullptr;
    if (track == nullptr)
        return {};
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole: {
            if (column == tcMark)
                return {};
            if (column == tcRating)
                return Stars(track->Rating);
            if (column == tcPlays)
                return track->PlayCount > 0 ? QString::number(track->PlayCount) : QString();
            // A reader that knew the size but wrote no text for it (books, tones, memos).
            if (column == tcSize && track->SizeText.empty() && track->FileSize > 0)
                return QString::fromStdString(TIpodDevice::FormatSize(track->FileSize));
            return QString::fromStdString(ColumnText(*track, column));
        }
        case Qt::DecorationRole: {
            if (column != tcMark)
                return {};
            const int32_t state = track->TransferState;
            if (state < 0 || state >= static_cast<int32_t>(FMarks.size()))
                return {};
            return FMarks[static_cast<size_t>(state)];
        }
        case Qt::CheckStateRole:
            if (column != tcName)
                return {};
            return track->Checked ? Qt::Checked : Qt::Unchecked;
        case Qt::BackgroundRole:
            return index.row() % 2 == 0 ? FEvenRow : FOddRow;
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(ColumnAlignment(column));
        default:
            return {};
    }
}

bool TTrackListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != tcName ||
        index.row() >= rowCount())
        return false;
    SetChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags TTrackListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == tcName)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant TTrackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= tcColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kCaptions[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(ColumnAlignment(section));
    return {};
}

void TTrackListModel::SetRows(std::vector<int> rows) {
    beginResetModel();
    FRows = std::move(rows);
    endResetModel();
}

void TTrackListModel::SetChecked(int row, bool checked) {
    if (row < 0 || row >= rowCount())
        return;
    const int track = FRows[static_cast<size_t>(row)];
    if (checked)
        FTracks.Check(track);
    else
        FTracks.Uncheck(track);
    // The same track may stand in more than one row of a playlist.
    ChecksChanged();
}

void TTrackListModel::SetChecked(const std::vector<int>& rows, bool checked) {
    bool changed = false;
    for (int row : rows) {
        if (row < 0 || row >= rowCount())
            continue;
        const int track = FRows[static_cast<size_t>(row)];
        if (checked)
            FTracks.Check(track);
        else
            FTracks.Uncheck(track);
        changed = true;
    }
    if (changed)
        ChecksChanged();
}

void TTrackListModel::ToggleChecked(int row) {
    if (const TTrackItem* track = TrackAt(row))
        SetChecked(row, !track->Checked);
}

void TTrackListModel::CheckAll(bool checked) {
    for (int track : FRows) {
        if (checked)
            FTracks.Check(track);
        else
            FTracks.Uncheck(track);
    }
    ChecksChanged();
}

void TTrackListModel::ChecksChanged() {
    if (!FRows.empty())
        emit dataChanged(index(0, tcName), index(rowCount() - 1, tcName), {Qt::CheckStateRole});
}

void TTrackListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= tcColumnCount)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Sort positions rather than track indexes, so the selection can follow its rows. The
    // keys are taken out of the tracks once: the comparisons then run over contiguous memory,
    // and a folded text compares byte by byte exactly as Compare does.
    std::vector<size_t> positions(FRows.size());
    std::iota(positions.begin(), positions.end(), size_t{0});
    const bool descending = order == Qt::DescendingOrder;
    if (IsNumberColumn(column)) {
        std::vector<int64_t> keys(FRows.size());
        for (size_t i = 0; i < FRows.size(); ++i)
            keys[i] = NumberKey(FTracks.Items(FRows[i]), column);
        SortPositions(positions, keys, descending);
    } else {
        std::vector<std::string> keys(FRows.size());
        for (size_t i = 0; i < FRows.size(); ++i)
            keys[i] = FoldedText(ColumnText(FTracks.Items(FRows[i]), column));
        SortPositions(positions, keys, descending);
    }
    std::vector<int> rows(FRows.size());
    std::vector<int> newRow(FRows.size());
    for (size_t i = 0; i < positions.size(); ++i) {
        rows[i] = FRows[positions[i]];
        newRow[positions[i]] = static_cast<int>(i);
    }
    FRows = std::move(rows);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from)
        to.append(index(newRow[static_cast<size_t>(old.row())], old.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace corvane::views
