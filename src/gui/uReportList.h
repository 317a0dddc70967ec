#pragma once
// A list in report view as the windows use it: whole-row selection, not editable, no tree lines.
#include <QStringList>
#include <initializer_list>

class QTreeWidget;
class QWidget;

namespace egaiss {

// The columns get `headers` and, in the same order, `widths` in pixels.
QTreeWidget* NewReportList(QWidget* parent, const QStringList& headers, std::initializer_list<int> widths);

}  // namespace egaiss
