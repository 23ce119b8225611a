#include "list/qt/addressView.h"

#include "list/qt/addressModel.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>

namespace quillon {

namespace {

QString firstLocalPath(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) {
        return {};
    }
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) {
        return {};
    }
    return urls.front().toLocalFile();
}

} // namespace

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
    setModel(model);
    connect(model, &AddressModel::scrollRequested, this, &AddressView::scrollToRow);
    connect(model, &AddressModel::listEnabledChanged, this, &QWidget::setEnabled);
    connect(model, &QAbstractItemModel::modelReset, this, &AddressView::applyColumnWidths);
    applyColumnWidths();
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

void AddressView::dragEnterEvent(QDragEnterEvent* event) {
    if (!firstLocalPath(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void AddressView::dragMoveEvent(QDragMoveEvent* event) {
    if (!firstLocalPath(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void AddressView::dropEvent(QDropEvent* event) {
    const QString path = firstLocalPath(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit fileDropped(path);
}

} // namespace quillon
