#include "gui/scanfile/info_list.hpp"

#include <QPainter>

namespace quarv {

std::pair<QString, QString> splitAtTabs(const QString& line) {
    const qsizetype tab = line.indexOf('\t');
    if (tab < 0) return {line, QString()};
    qsizetype rest = tab;
    while (rest < line.size() && line[rest] == '\t') ++rest;
    return {line.left(tab), line.mid(rest)};
}

void TabStopDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    // Background, selection and focus as the style draws them, then the two columns.
    opt.widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
    const auto [label, value] = splitAtTabs(text);
    const QRect r = opt.rect.adjusted(4, 0, -4, 0);
    painter->save();
    painter->setPen(opt.palette.color(opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                         : QPalette::Text));
    painter->drawText(r, Qt::AlignVCenter | Qt::AlignLeft, label);
    if (text.contains('\t')) {
        const QRect v(r.left() + valueColumn_, r.top(), std::max(0, r.width() - valueColumn_),
                      r.height());
        painter->drawText(v, Qt::AlignVCenter | Qt::AlignLeft, value);
    }
    painter->restore();
}

InfoList::InfoList(QWidget* parent) : QListWidget(parent), delegate_(this) {
    setItemDelegate(&delegate_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
}

void InfoList::setLines(const std::vector<std::string>& lines) {
    clear();
    int widest = 0;
    const QFontMetrics fm(font());
    for (const std::string& l : lines) {
        const QString line = QString::fromStdString(l);
        addItem(line);
        if (line.contains('\t'))
            widest = std::max(widest, fm.horizontalAdvance(splitAtTabs(line).first));
    }
    // The tab stop lies one gap beyond the widest label (labels without a tab, such as the
    // path, run across it).
    delegate_.setValueColumn(widest + fm.horizontalAdvance(QStringLiteral("    ")));
    viewport()->update();
}

QStringList InfoList::lines() const {
    QStringList out;
    for (int i = 0; i < count(); ++i) out << item(i)->text();
    return out;
}

} // namespace quarv
