#pragma once

#include <QStringList>
#include <QTableView>

class QMimeData;

namespace quillon {

class AddressModel;

// The on-screen address list: a table with a check-box column (10% of the
// width), the address (50%) and the domain (40%), several rows selectable at
// once, and files or folders accepted as drops anywhere on it.
class AddressView : public QTableView {
    Q_OBJECT
public:
    explicit AddressView(QWidget* parent = nullptr);

    void setAddressModel(AddressModel* model);
    // Makes `row` the top visible row.
    void scrollToRow(int row);
    // The local files and folders a drag carries, in its order.
    static QStringList localPaths(const QMimeData* data);

signals:
    // The local files and folders of a drop, in the drag's order.
    void filesDropped(const QStringList& paths);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void applyColumnWidths();
    // The list's selected rows and the view's selection are one and the
    // same: what the user selects is written to the list, and what the list
    // selects (the suspicious-address check) is shown as the view's selection,
    // so that assistive technology reports it too.
    void selectFromList(int first, int last);
    void selectionToList(const QItemSelection& selected, const QItemSelection& deselected);

    AddressModel* m_model = nullptr;
    bool m_syncing = false;
};

} // namespace quillon
