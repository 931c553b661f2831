// CMainFrame: the single top-level window. It holds the menu, the toolbar of twelve buttons, the
// progress status bar and, as its client, the OpenGL view. Every menu item and toolbar button is
// a QAction carrying its command id; triggering one emits command(id) for the application.
// Without OpenGL the frame is made without the view in it (a notice takes its place): the view
// object exists, so the commands can address it, but it is never shown and makes no context.
#pragma once

#include "gui/app/prog_status_bar.hpp"
#include "gui/viewer/child_view.hpp"
#include "gui/viewer/scan_image_panel.hpp"

#include <QActionGroup>
#include <QLabel>
#include <QMainWindow>
#include <QToolBar>

#include <map>

namespace quarv {

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(bool withView = true, QWidget* parent = nullptr);

    CChildView& view() { return view_; }
    ScanImagePanel& scanImage() { return scanImage_; }
    bool hasView() const { return centralWidget() == &view_; }
    CProgStatusBar& progStatusBar() { return statusBar_; }
    QToolBar& toolBar() { return *toolBar_; }

    // The menu item or toolbar button of a command id (the toolbar's for ids on both); null for
    // an id without one.
    QAction* action(int id) const;

signals:
    void command(int id);

protected:
    bool event(QEvent* event) override;

private:
    QAction* addCommand(QWidget* where, int id, const QString& caption);
    void createMenus();
    void createToolBar();
    void showModes();

    CChildView view_;
    ScanImagePanel scanImage_;
    QLabel noView_;
    CProgStatusBar statusBar_;
    QToolBar* toolBar_ = nullptr; // owned by the window
    QActionGroup motionGroup_{this};
    QActionGroup pickGroup_{this};
    std::map<int, QAction*> actions_;
};

} // namespace quarv
