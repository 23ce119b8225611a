#include "list/qt/addressModel.h"

#include <climits>

namespace quillon {

namespace {
constexpr int kColumns = 3;

int clampRow(std::int64_t row) {
    return row > INT_MAX ? INT_MAX : static_cast<int>(row);
}
} // namespace

AddressModel::AddressModel(addressBox& box, QObject* parent) : QAbstractTableModel(parent), m_box(box) {
    m_box.setObserver(this);
}

AddressModel::~AddressModel() {
    m_box.setObserver(nullptr);
}

int AddressModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : clampRow(m_box.ListCount());
}

int AddressModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

namespace {

QString cellText(const AddressRow& row, int column) {
    const std::string_view text = row.cell(column);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QVariant AddressModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_box.ListCount()) {
        return {};
    }
    const AddressRow& row = m_box.row(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        if (column == 0) {
            return {};
        }
        return cellText(row, column);
    case Qt::CheckStateRole:
        if (column == 0) {
            return row.checked ? Qt::Checked : Qt::Unchecked;
        }
        return {};
    case Qt::AccessibleTextRole:
        if (column == 0) {
            return row.checked ? QStringLiteral("削除: チェックあり") : QStringLiteral("削除: チェックなし");
        }
        return cellText(row, column);
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole:
        // Where the address was first found.
        if (column == 1 && row.source != 0) {
            return QStringLiteral("見つかった場所: %1").arg(QString::fromStdString(m_box.sourceName(row.source)));
        }
        return {};
    case Qt::BackgroundRole:
        if (row.selected) {
            return m_palette.brush(QPalette::Active, QPalette::Highlight);
        }
        return {};
    case Qt::ForegroundRole:
        if (row.selected) {
            return m_palette.brush(QPalette::Active, QPalette::HighlightedText);
        }
        return {};
    default:
        return {};
    }
}

QVariant AddressModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        switch (section) {
        case 0:
            return QStringLiteral("削除");
        case 1:
            return QStringLiteral("アドレス");
        case 2:
            return QStringLiteral("ドメイン");
        default:
            break;
        }
    }
    if (orientation == Qt::Vertical && role == Qt::DisplayRole) {
        return section + 1;
    }
    return {};
}

Qt::ItemFlags AddressModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::ItemIsDropEnabled;
    }
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsDropEnabled | Qt::ItemNeverHasChildren;
    if (m_box.Enabled()) {
        f |= Qt::ItemIsEnabled;
    }
    if (index.column() == 0) {
        f |= Qt::ItemIsUserCheckable;
    } else if (index.column() == 1) {
        f |= Qt::ItemIsEditable;
    }
    return f;
}

bool AddressModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= m_box.ListCount() || !m_box.Enabled()) {
        return false;
    }
    if (index.column() == 0 && role == Qt::CheckStateRole) {
        m_box.setCellCheck(index.row(), value.toInt() == Qt::Checked);
        return true;
    }
    if (index.column() == 1 && role == Qt::EditRole) {
        const std::string text = value.toString().toStdString();
        if (text == m_box.Cell(index.row(), 1)) {
            return false;
        }
        m_box.setCell(index.row(), 1, text);
        emit cellTextChanged(index.row(), 1);
        return true;
    }
    return false;
}

void AddressModel::listAboutToReset() {
    beginResetModel();
}
void AddressModel::listReset() {
    endResetModel();
}

void AddressModel::rowsAboutToAppend(std::int64_t first, std::int64_t last) {
    beginInsertRows({}, clampRow(first), clampRow(last));
}

void AddressModel::rowsAppended() {
    endInsertRows();
}

void AddressModel::rowsChanged(std::int64_t first, std::int64_t last) {
    emit dataChanged(index(clampRow(first), 0), index(clampRow(last), kColumns - 1));
}

void AddressModel::scrolledTo(std::int64_t row) {
    emit scrollRequested(clampRow(row));
}

void AddressModel::enabledChanged(bool enabled) {
    emit listEnabledChanged(enabled);
    if (m_box.ListCount() > 0) {
        emit dataChanged(index(0, 0), index(clampRow(m_box.ListCount() - 1), kColumns - 1));
    }
}

} // namespace quillon
