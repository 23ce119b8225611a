#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>

#include <vector>

namespace quillon {

// Keeps widgets at their design places in a resizable parent: each widget has
// a rectangle in the design size and the edges it is anchored to. Anchored to
// the right (or bottom) only, it moves with that edge; anchored to both
// opposite edges, it grows; not anchored on an axis, it keeps its place.
class AnchorLayout {
public:
    enum Edge { Left = 1, Top = 2, Right = 4, Bottom = 8, All = Left | Top | Right | Bottom };

    explicit AnchorLayout(QSize designSize) : m_design(designSize) {}

    void add(QWidget* widget, QRect designRect, int edges) {
        m_items.push_back({widget, designRect, edges});
        widget->setGeometry(designRect);
    }

    void apply(QSize size) const {
        const int dw = size.width() - m_design.width();
        const int dh = size.height() - m_design.height();
        for (const Item& item : m_items) {
            QRect r = item.rect;
            if ((item.edges & Right) != 0) {
                if ((item.edges & Left) != 0) {
                    r.setWidth(std::max(0, r.width() + dw));
                } else {
                    r.moveLeft(r.left() + dw);
                }
            }
            if ((item.edges & Bottom) != 0) {
                if ((item.edges & Top) != 0) {
                    r.setHeight(std::max(0, r.height() + dh));
                } else {
                    r.moveTop(r.top() + dh);
                }
            }
            item.widget->setGeometry(r);
        }
    }

private:
    struct Item {
        QWidget* widget;
        QRect rect;
        int edges;
    };
    QSize m_design;
    std::vector<Item> m_items;
};

} // namespace quillon
