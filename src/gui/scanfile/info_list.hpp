// The list box of the file information lines. Each line keeps its text exactly as formatted
// (tab characters included); the drawing turns the tabs into one tab stop placed after the
// widest label, so that every value starts in the same column whatever the number of tabs.
#pragma once

#include <QListWidget>
#include <QStyledItemDelegate>

#include <string>
#include <vector>

namespace quarv {

class TabStopDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setValueColumn(int x) { valueColumn_ = x; }
    int valueColumn() const { return valueColumn_; }
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    int valueColumn_ = 160;
};

class InfoList : public QListWidget {
public:
    explicit InfoList(QWidget* parent = nullptr);
    // Replaces every line.
    void setLines(const std::vector<std::string>& lines);
    QStringList lines() const;
    int valueColumn() const { return delegate_.valueColumn(); }

private:
    TabStopDelegate delegate_;
};

// Label (before the first tab) and value (after the last tab of the first run of tabs).
std::pair<QString, QString> splitAtTabs(const QString& line);

} // namespace quarv
