#include "gui/graph/graph.hpp"

#include <QVBoxLayout>
#include <qcustomplot.h>

#include <cmath>
#include <limits>

namespace quarv {
namespace {

// Colours of numbered plots, chosen to stay apart from each other and from the black "Ave".
const QColor kPalette[] = {
    QColor(31, 119, 180),  QColor(214, 39, 40),   QColor(44, 160, 44), QColor(255, 127, 14),
    QColor(148, 103, 189), QColor(23, 190, 207),  QColor(140, 86, 75), QColor(227, 119, 194),
    QColor(188, 189, 34),  QColor(127, 127, 127),
};

constexpr std::size_t kMaxName = 15;

} // namespace

// ---- Plot ----

void Plot::clear() {
    graph_->data()->clear();
    owner_.dataChanged();
}

void Plot::plotY(std::span<const float> values) {
    QVector<QCPGraphData> data;
    data.reserve(static_cast<int>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i)
        data.append(QCPGraphData(static_cast<double>(i), static_cast<double>(values[i])));
    graph_->data()->set(data, true);
    owner_.dataChanged();
}

void Plot::plotXY(std::span<const float> keys, std::span<const float> values) {
    const std::size_t n = std::min(keys.size(), values.size());
    QVector<QCPGraphData> data;
    data.reserve(static_cast<int>(n));
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < n; ++i) {
        // A point without a key cannot be placed: it becomes a gap like a missing value.
        const double k = keys[i];
        const double v = std::isnan(k) ? nan : static_cast<double>(values[i]);
        data.append(QCPGraphData(std::isnan(k) ? (i > 0 ? data.back().key : 0.0) : k, v));
    }
    graph_->data()->set(data, false);
    owner_.dataChanged();
}

void Plot::setMarkers(bool on) {
    graph_->setScatterStyle(
        on ? QCPScatterStyle(QCPScatterStyle::ssDisc, graph_->pen().color(), 2.5)
           : QCPScatterStyle(QCPScatterStyle::ssNone));
    owner_.plot_->replot(QCustomPlot::rpQueuedReplot);
}

void Plot::setLabel(const QString& label) {
    graph_->setName(label);
    owner_.plot_->replot(QCustomPlot::rpQueuedReplot);
}

std::size_t Plot::size() const {
    return static_cast<std::size_t>(graph_->data()->size());
}

double Plot::keyAt(std::size_t i) const {
    if (i >= size()) return std::numeric_limits<double>::quiet_NaN();
    return graph_->data()->at(static_cast<int>(i))->key;
}

double Plot::valueAt(std::size_t i) const {
    if (i >= size()) return std::numeric_limits<double>::quiet_NaN();
    return graph_->data()->at(static_cast<int>(i))->value;
}

QColor Plot::color() const {
    return graph_->pen().color();
}

// ---- Cursor ----

void Cursor::setPosition(double x) {
    x_ = x;
    const QCPRange r = owner_.plot_->yAxis->range();
    follow(r.lower, r.upper);
}

void Cursor::follow(double lower, double upper) {
    // A vertical line over the whole visible value range at x.
    QVector<double> keys{x_, x_};
    QVector<double> values{lower, upper};
    line_->setData(keys, values, true);
    owner_.plot_->replot(QCustomPlot::rpQueuedReplot);
}

void Cursor::setColor(const QColor& color) {
    QPen pen(color);
    pen.setWidthF(1.5);
    pen.setStyle(Qt::DashLine);
    line_->setPen(pen);
    owner_.plot_->replot(QCustomPlot::rpQueuedReplot);
}

QColor Cursor::color() const {
    return line_->pen().color();
}

// ---- Graph ----

Graph::Graph(QWidget* parent) : QWidget(parent), plot_(std::make_unique<QCustomPlot>()) {
    setLayout(&layout_);
    layout_.setContentsMargins(0, 0, 0, 0);
    layout_.setSpacing(0);
    title_.setAlignment(Qt::AlignCenter);
    QFont bold = font();
    bold.setBold(true);
    title_.setFont(bold);
    title_.hide();
    layout_.addWidget(&title_);
    layout_.addWidget(plot_.get(), 1);
    plot_->setMinimumSize(160, 110);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    plot_->xAxis->setTickLabelFont(small);
    plot_->yAxis->setTickLabelFont(small);
    plot_->xAxis->setLabelFont(small);
    plot_->yAxis->setLabelFont(small);
    plot_->legend->setFont(small);
    plot_->legend->setVisible(false);
    plot_->legend->setBrush(QBrush(QColor(255, 255, 255, 200)));
    plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    plot_->addLayer(QStringLiteral("cursors"), plot_->layer("main"), QCustomPlot::limAbove);
    plot_->xAxis->ticker()->setTickCount(tickCount_);
    plot_->yAxis->ticker()->setTickCount(tickCount_);
    connect(plot_->yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& r) {
                for (auto& c : cursors_) c->follow(r.lower, r.upper);
            });
}

Graph::~Graph() = default;

std::string Graph::cut(const std::string& name) {
    return name.size() > kMaxName ? name.substr(0, kMaxName) : name;
}

Plot& Graph::plot(const std::string& fullName) {
    const std::string name = cut(fullName);
    for (auto& p : plots_)
        if (p->name() == name) return *p;
    QCPGraph* g = plot_->addGraph();
    g->setName(QString::fromStdString(name));
    QPen pen;
    if (name == "Ave") {
        pen = QPen(Qt::black);
        pen.setWidthF(2.5);
    } else {
        pen = QPen(kPalette[plots_.size() % std::size(kPalette)]);
        pen.setWidthF(1.2);
    }
    g->setPen(pen);
    g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, pen.color(), 2.5));
    g->setAdaptiveSampling(true);
    plots_.push_back(std::make_unique<Plot>(*this, g, name));
    dataChanged();
    return *plots_.back();
}

const Plot* Graph::findPlot(const std::string& fullName) const {
    const std::string name = cut(fullName);
    for (const auto& p : plots_)
        if (p->name() == name) return p.get();
    return nullptr;
}

std::vector<std::string> Graph::plotNames() const {
    std::vector<std::string> names;
    for (const auto& p : plots_) names.push_back(p->name());
    return names;
}

int Graph::plotsWithData() const {
    int n = 0;
    for (const auto& p : plots_) n += p->size() > 0 ? 1 : 0;
    return n;
}

void Graph::removePlots() {
    for (auto& p : plots_) plot_->removeGraph(p->graph_);
    plots_.clear();
    dataChanged();
}

Cursor& Graph::cursor(const std::string& fullName) {
    const std::string name = cut(fullName);
    for (auto& c : cursors_)
        if (c->name() == name) return *c;
    QCPGraph* line = plot_->addGraph();
    line->setName(QString::fromStdString(name));
    line->removeFromLegend();
    line->setSelectable(QCP::stNone);
    line->setLayer(QStringLiteral("cursors")); // above every plot, whenever the plot was made
    cursors_.push_back(std::make_unique<Cursor>(*this, line, name));
    Cursor& c = *cursors_.back();
    c.setColor(Qt::darkGreen);
    c.setPosition(0.0);
    return c;
}

const Cursor* Graph::findCursor(const std::string& fullName) const {
    const std::string name = cut(fullName);
    for (const auto& c : cursors_)
        if (c->name() == name) return c.get();
    return nullptr;
}

void Graph::setTickCount(int ticks) {
    tickCount_ = ticks;
    plot_->xAxis->ticker()->setTickCount(ticks);
    plot_->yAxis->ticker()->setTickCount(ticks);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void Graph::setTitle(const QString& title) {
    title_.setText(title);
    title_.setVisible(!title.isEmpty());
}

void Graph::setAxisLabels(const QString& xLabel, const QString& yLabel) {
    plot_->xAxis->setLabel(xLabel);
    plot_->yAxis->setLabel(yLabel);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void Graph::setFixedKeyRange(double lower, double upper) {
    fixedKeys_ = true;
    fixedLower_ = lower;
    fixedUpper_ = upper;
    plot_->xAxis->setRange(lower, upper);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void Graph::dataChanged() {
    for (auto& p : plots_) {
        if (p->size() > 0)
            p->graph_->addToLegend();
        else
            p->graph_->removeFromLegend();
    }
    plot_->legend->setVisible(plotsWithData() > 1);
    rescale();
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void Graph::rescale() {
    bool haveKeys = false, haveValues = false;
    QCPRange keys, values;
    for (const auto& p : plots_) {
        bool found = false;
        const QCPRange k = p->graph_->getKeyRange(found);
        if (found)
            keys = haveKeys ? QCPRange(std::min(keys.lower, k.lower), std::max(keys.upper, k.upper))
                            : k,
            haveKeys = true;
        found = false;
        const QCPRange v = p->graph_->getValueRange(found);
        if (found)
            values = haveValues ? QCPRange(std::min(values.lower, v.lower),
                                           std::max(values.upper, v.upper))
                                : v,
            haveValues = true;
    }
    if (fixedKeys_) {
        plot_->xAxis->setRange(fixedLower_, fixedUpper_);
    } else if (haveKeys) {
        if (keys.size() <= 0) keys = QCPRange(keys.lower - 0.5, keys.upper + 0.5);
        plot_->xAxis->setRange(keys);
    }
    if (haveValues) {
        // A margin keeps the extremes off the frame; a flat plot gets a unit-wide band.
        const double span =
            values.size() > 0 ? values.size() : std::max(1.0, std::abs(values.lower) * 0.1);
        plot_->yAxis->setRange(values.lower - span * 0.05, values.upper + span * 0.05);
    }
}

} // namespace quarv
