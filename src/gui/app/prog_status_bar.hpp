// The status bar of the main frame: two panes of 600 pixels and a progress bar (0..100) laid over
// pane 1. The bar stays hidden until the first progress value arrives and stays visible after;
// progress 0 shows the idle text "Ready". Status tips take the place of pane 0 only.
#pragma once

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QWidget>

namespace quarv {

class CProgStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kPaneWidth = 600;

    explicit CProgStatusBar(QWidget* parent = nullptr);

    void setProgress(int pos);

    QProgressBar& progressBar() { return progress_; }
    QString paneText(int pane) const { return pane == 0 ? pane0_.text() : pane1Text_.text(); }
    void setPaneText(int pane, const QString& text);

private:
    QLabel pane0_;
    QWidget pane1_;
    QHBoxLayout pane1Layout_;
    QLabel pane1Text_;
    QProgressBar progress_;
};

} // namespace quarv
