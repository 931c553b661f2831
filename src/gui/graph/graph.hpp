// A graph of the analysis dialogs over QCustomPlot: named plots ("Plot-1", "Plot-%d", "Ave")
// drawn together, each in its own style, not-a-number values drawn as gaps, and named
// vertical cursors ("Cursor-1") with position and colour. Axes carry units; the legend lists
// the plots that hold data and appears as soon as more than one does.
#pragma once

#include <QColor>
#include <QLabel>
#include <QString>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>
#include <span>
#include <string>
#include <vector>

class QCustomPlot;
class QCPGraph;

namespace quarv {

class Graph;

class Plot {
public:
    const std::string& name() const { return name_; }
    // Shows nothing until new data is given.
    void clear();
    // Value i at x = i; a NaN value leaves a gap. Replaces the previous data.
    void plotY(std::span<const float> values);
    // Value i at x = keys[i] (e.g. range against beam angle); pairs with a NaN leave a gap.
    // Only the shorter of the two lengths is drawn.
    void plotXY(std::span<const float> keys, std::span<const float> values);

    // Dots on every value (the default) make single values between gaps visible; dense, gapless
    // traces such as a waveform read better as a bare line.
    void setMarkers(bool on);
    // The text of the plot in the legend (the name until set).
    void setLabel(const QString& label);

    std::size_t size() const;
    double keyAt(std::size_t i) const;
    double valueAt(std::size_t i) const;
    QColor color() const;

    // Made by Graph::plot only.
    Plot(Graph& owner, QCPGraph* graph, std::string name)
        : owner_(owner), graph_(graph), name_(std::move(name)) {}

private:
    friend class Graph;
    Graph& owner_;
    QCPGraph* graph_;
    std::string name_;
};

class Cursor {
public:
    const std::string& name() const { return name_; }
    void setPosition(double x);
    double position() const { return x_; }
    void setColor(const QColor& color);
    QColor color() const;

    // Made by Graph::cursor only.
    Cursor(Graph& owner, QCPGraph* line, std::string name)
        : owner_(owner), line_(line), name_(std::move(name)) {}

private:
    friend class Graph;
    void follow(double lower, double upper);
    Graph& owner_;
    QCPGraph* line_;
    std::string name_;
    double x_ = 0.0;
};

class Graph : public QWidget {
    Q_OBJECT
public:
    explicit Graph(QWidget* parent = nullptr);
    ~Graph() override;

    // The plot of that name, created on first use (names are cut to 15 characters). "Ave" is
    // drawn as a heavy black line; numbered plots take colours in the order they were created.
    Plot& plot(const std::string& name);
    const Plot* findPlot(const std::string& name) const;
    std::vector<std::string> plotNames() const;
    // Number of plots holding at least one point.
    int plotsWithData() const;
    // Removes every plot (not the cursors): the next plot() calls start the styles afresh, so
    // "Plot-1" always has the first colour.
    void removePlots();

    // The vertical cursor of that name, created on first use at x = 0.
    Cursor& cursor(const std::string& name);
    const Cursor* findCursor(const std::string& name) const;

    // The property the dialogs set to 10 before plotting: the number of ticks per axis.
    void setTickCount(int ticks);
    int tickCount() const { return tickCount_; }

    void setTitle(const QString& title);
    void setAxisLabels(const QString& xLabel, const QString& yLabel);
    // The x range stays fixed (e.g. a sample axis) instead of following the data.
    void setFixedKeyRange(double lower, double upper);

    QCustomPlot& customPlot() { return *plot_; }
    const QCustomPlot& customPlot() const { return *plot_; }

private:
    friend class Plot;
    friend class Cursor;
    void dataChanged();
    void rescale();
    static std::string cut(const std::string& name);

    QVBoxLayout layout_;
    QLabel title_;
    std::unique_ptr<QCustomPlot> plot_;
    std::vector<std::unique_ptr<Plot>> plots_;
    std::vector<std::unique_ptr<Cursor>> cursors_;
    int tickCount_ = 5;
    bool fixedKeys_ = false;
    double fixedLower_ = 0, fixedUpper_ = 1;
};

} // namespace quarv
