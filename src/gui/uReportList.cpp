#include "gui/uReportList.h"

#include <QTreeWidget>

namespace egaiss {

QTreeWidget* NewReportList(QWidget* parent, const QStringList& headers, std::initializer_list<int> widths) {
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setHeaderLabels(headers);
    int column = 0;
    for (const int width : widths)
        list->setColumnWidth(column++, width);
    return list;
}

}  // namespace egaiss
