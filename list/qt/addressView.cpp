#include "list/qt/addressView.h"

#include "list/qt/addressModel.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>

namespace quillon {

AddressView::AddressView(QWidget* parent) : QTableView(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::SelectedClicked);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DropOnly);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    verticalHeader()->setVisible(false);
    // Fixed row heights keep a list of a million rows fast to lay out.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void AddressView::setAddressModel(AddressModel* model) {
    m_model = model;
    setModel(model);
    connect(model, &AddressModel::scrollRequested, this, &AddressView::scrollToRow);
    connect(model, &AddressModel::listEnabledChanged, this, &QWidget::setEnabled);
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        applyColumnWidths();
        selectFromList(0, m_model->rowCount() - 1);
    });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                selectFromList(topLeft.row(), bottomRight.row());
            });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &AddressView::selectionToList);
    applyColumnWidths();
}

void AddressView::selectFromList(int first, int last) {
    if (m_syncing || m_model == nullptr || first > last) {
        return;
    }
    // Qt's selection gets slow with many separate ranges; past this many the
    // rows are only painted as selected (by the model), not reported so.
    constexpr qsizetype kMaxRanges = 2000;
    m_syncing = true;
    const addressBox& box = m_model->box();
    const int columns = m_model->columnCount() - 1;
    const bool whole = first == 0 && last == m_model->rowCount() - 1;
    QItemSelection select;
    QItemSelection deselect;
    int r = first;
    while (r <= last && select.size() <= kMaxRanges) {
        const bool on = box.row(r).selected;
        int end = r;
        while (end + 1 <= last && box.row(end + 1).selected == on) {
            ++end;
        }
        const QItemSelectionRange range(m_model->index(r, 0), m_model->index(end, columns));
        if (on) {
            select.append(range);
        } else if (!whole) {
            deselect.append(range);
        }
        r = end + 1;
    }
    if (whole) {
        selectionModel()->clearSelection();
    } else if (!deselect.isEmpty()) {
        selectionModel()->select(deselect, QItemSelectionModel::Deselect);
    }
    if (!select.isEmpty() && select.size() <= kMaxRanges) {
        selectionModel()->select(select, QItemSelectionModel::Select);
    }
    m_syncing = false;
}

void AddressView::selectionToList(const QItemSelection& selected, const QItemSelection& deselected) {
    if (m_syncing || m_model == nullptr) {
        return;
    }
    m_syncing = true;
    addressBox& box = m_model->box();
    for (const QItemSelectionRange& range : deselected) {
        box.setSelectedRange(range.top(), range.bottom(), false);
    }
    for (const QItemSelectionRange& range : selected) {
        box.setSelectedRange(range.top(), range.bottom(), true);
    }
    m_syncing = false;
}

void AddressView::scrollToRow(int row) {
    if (model() == nullptr || row < 0 || row >= model()->rowCount()) {
        verticalScrollBar()->setValue(0);
        return;
    }
    scrollTo(model()->index(row, 1), QAbstractItemView::PositionAtTop);
}

void AddressView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    applyColumnWidths();
}

void AddressView::applyColumnWidths() {
    const int width = viewport()->width();
    const int first = width / 10;
    const int second = width / 2;
    setColumnWidth(0, first);
    setColumnWidth(1, second);
    setColumnWidth(2, width - first - second);
}

QStringList AddressView::localPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            paths << url.toLocalFile();
        }
    }
    return paths;
}

void AddressView::dragEnterEvent(QDragEnterEvent* event) {
    if (!localPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void AddressView::dragMoveEvent(QDragMoveEvent* event) {
    if (!localPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void AddressView::dropEvent(QDropEvent* event) {
    const QStringList paths = localPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(paths);
}

} // namespace quillon
