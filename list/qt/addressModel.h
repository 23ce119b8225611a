#pragma once

#include "list/addressBox.h"

#include <QAbstractTableModel>
#include <QPalette>

namespace quillon {

// Shows the rows of an addressBox in a Qt view: column 0 a check box, column 1
// the editable address, column 2 the domain. Rows that the list marks as
// selected (the suspicious-address check highlights them so) are painted in
// the highlight colours. Every change of the list reaches the view through the
// ListObserver calls, which all come on the UI thread.
class AddressModel : public QAbstractTableModel, public ListObserver {
    Q_OBJECT
public:
    explicit AddressModel(addressBox& box, QObject* parent = nullptr);
    ~AddressModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    void setPalette(const QPalette& palette) { m_palette = palette; }
    addressBox& box() { return m_box; }

    // ListObserver
    void listAboutToReset() override;
    void listReset() override;
    void rowsAboutToAppend(std::int64_t first, std::int64_t last) override;
    void rowsAppended() override;
    void rowsChanged(std::int64_t first, std::int64_t last) override;
    void scrolledTo(std::int64_t row) override;
    void enabledChanged(bool enabled) override;

signals:
    // The user has changed the text of a cell.
    void cellTextChanged(int row, int column);
    void scrollRequested(int row);
    void listEnabledChanged(bool enabled);

private:
    addressBox& m_box;
    QPalette m_palette;
};

} // namespace quillon
