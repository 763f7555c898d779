#include "ui/dialog_keys.h"

#include <QGridLayout>
#include <QLayout>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <tuple>
#include <vector>

namespace tessarine::ui {
namespace {

void MakeDefault(QWidget* page, const QString& okName) {
    if (page == nullptr) return;
    if (auto* ok = page->findChild<QPushButton*>(okName)) ok->setDefault(true);
}

void CollectInLayoutOrder(QLayout& layout, std::vector<QWidget*>& out) {
    struct Place {
        int row;
        int column;
        int index;
    };
    std::vector<Place> places;
    auto* grid = qobject_cast<QGridLayout*>(&layout);
    for (int i = 0; i < layout.count(); ++i) {
        int row = 0;
        int column = i;
        if (grid != nullptr) {
            int rowSpan = 0;
            int columnSpan = 0;
            grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        }
        places.push_back({row, column, i});
    }
    std::stable_sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
        return std::tie(a.row, a.column) < std::tie(b.row, b.column);
    });
    for (const Place& place : places) {
        QLayoutItem* item = layout.itemAt(place.index);
        if (QLayout* inner = item->layout()) {
            CollectInLayoutOrder(*inner, out);
        } else if (QWidget* widget = item->widget()) {
            if (widget->focusPolicy() & Qt::TabFocus) out.push_back(widget);
            // Group boxes and plain containers: their own controls in their own order.
            if (widget->layout() != nullptr) CollectInLayoutOrder(*widget->layout(), out);
        }
    }
}

}  // namespace

void FollowPageDefaultButtons(QTabWidget& tabs, const QString& okName) {
    MakeDefault(tabs.currentWidget(), okName);
    QObject::connect(&tabs, &QTabWidget::currentChanged, &tabs,
                     [&tabs, okName](int index) { MakeDefault(tabs.widget(index), okName); });
}

void TabInLayoutOrder(QWidget& page) {
    if (page.layout() == nullptr) return;
    std::vector<QWidget*> chain;
    CollectInLayoutOrder(*page.layout(), chain);
    for (std::size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
}

}  // namespace tessarine::ui
