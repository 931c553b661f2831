#include "gui/app/main_frame.hpp"

#include "gui/app/command_ids.hpp"
#include "gui/app/custom_events.hpp"
#include "gui/app/toolbar_icons.hpp"

#include <QMenu>
#include <QMenuBar>

namespace quarv {
namespace {

struct ToolInfo {
    int id;
    const char* tip;
};

// Tool tips of the toolbar buttons; the two motion modes carry their status texts.
constexpr ToolInfo kToolTips[] = {
    {ID_PROCESS_TOOLBAR, "Process Raw / Peak"},
    {ID_RESET_CAMERA, "Reset the camera"},
    {ID_TRANSLATE_MOTION, "Translate Motion"},
    {ID_ROTATION_MOTION, "Rotation Motion"},
    {ID_MEASURE_FIRST, "Measure: pick the first point"},
    {ID_MEASURE_SECOND, "Measure: pick the second point"},
    {ID_TARGET_FIRST, "Measure targets: pick the first target"},
    {ID_TARGET_SECOND, "Measure targets: pick the second target"},
    {ID_POINT_INFO, "Point information"},
    {ID_CENTRE_OF_ROTATION, "Make the picked point the centre of rotation"},
    {ID_FILE_INFO, "File information"},
    {ID_LAYER_STATISTICS, "Layer statistics"},
};

int pickModeOf(int id) {
    switch (id) {
    case ID_MEASURE_FIRST:
        return kPickFirstPoint;
    case ID_MEASURE_SECOND:
        return kPickSecondPoint;
    case ID_TARGET_FIRST:
        return kPickFirstTarget;
    case ID_TARGET_SECOND:
        return kPickSecondTarget;
    case ID_POINT_INFO:
        return kPickPointInfo;
    case ID_CENTRE_OF_ROTATION:
        return kPickCentre;
    default:
        return 0;
    }
}

} // namespace

CMainFrame::CMainFrame(bool withView, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("CMainFrame"));
    // The view is the client of the frame (the first pane's identifier in the original layout).
    view_.setObjectName(QStringLiteral("CChildView"));
    if (withView) {
        setCentralWidget(&view_);
    } else {
        noView_.setText(QStringLiteral(
            "No OpenGL: the point cloud cannot be shown.\nProcessing, file information, the "
            "graphs and the exports work as usual."));
        noView_.setAlignment(Qt::AlignCenter);
        setCentralWidget(&noView_);
    }
    createToolBar();
    addDockWidget(Qt::RightDockWidgetArea, &scanImage_);
    resizeDocks({&scanImage_}, {340}, Qt::Horizontal);
    createMenus();
    setStatusBar(&statusBar_);
    // Optional: a mode outside the buttons' set leaves none of them checked.
    motionGroup_.setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    pickGroup_.setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    connect(&view_, &CChildView::pickModeChanged, this, [this] { showModes(); });
    connect(&view_, &CChildView::motionModeChanged, this, [this] { showModes(); });
    showModes();
    resize(1024, 768);
}

QAction* CMainFrame::addCommand(QWidget* where, int id, const QString& caption) {
    QAction* a = nullptr;
    if (auto* menu = qobject_cast<QMenu*>(where)) {
        a = menu->addAction(caption);
    } else if (auto* bar = qobject_cast<QToolBar*>(where)) {
        a = bar->addAction(toolbarIcon(id), caption);
    } else {
        a = where->addAction(caption); // a keyboard command of the window, in no menu
    }
    a->setObjectName(QStringLiteral("ID_%1").arg(id));
    a->setProperty("commandId", id);
    connect(a, &QAction::triggered, this, [this, id] { emit command(id); });
    if (!actions_.count(id) || qobject_cast<QToolBar*>(where)) actions_[id] = a;
    return a;
}

void CMainFrame::createToolBar() {
    toolBar_ = addToolBar(QStringLiteral("Toolbar"));
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    toolBar_->setIconSize(QSize(24, 24));
    toolBar_->setMovable(true);
    for (int id : kToolbarLayout) {
        if (id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        QString tip;
        for (const auto& t : kToolTips) {
            if (t.id == id) tip = QString::fromLatin1(t.tip);
        }
        QAction* a = addCommand(toolBar_, id, tip);
        a->setToolTip(tip);
        a->setStatusTip(tip);
        if (id == ID_TRANSLATE_MOTION || id == ID_ROTATION_MOTION) {
            a->setCheckable(true);
            motionGroup_.addAction(a);
        } else if (pickModeOf(id) != 0) {
            a->setCheckable(true);
            pickGroup_.addAction(a);
        }
    }
}

void CMainFrame::createMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    addCommand(file, ID_PROCESS_RAW_PEAK, QStringLiteral("Process Raw / Peak"));
    addCommand(file, ID_PROCESS_ADD_FILE, QStringLiteral("Process && Add File"));
    file->addSeparator();
    addCommand(file, ID_PROCESSING_GRAPHS, QStringLiteral("Processing Graphs"));
    file->addSeparator();
    addCommand(file, ID_SAVE_LAS, QStringLiteral("Save LAS File"));
    addCommand(file, ID_SAVE_XYZ, QStringLiteral("Save XYZ File"));
    addCommand(file, ID_SAVE_VIEW_IMAGE, QStringLiteral("Save View Image..."));
    file->addSeparator();
    addCommand(file, ID_APP_EXIT, QStringLiteral("E&xit"));

    // The edit entries of the framework; the program has no handlers for them.
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    for (const char* caption :
         {"&Undo\tCtrl+Z", "", "Cu&t\tCtrl+X", "&Copy\tCtrl+C", "&Paste\tCtrl+V"}) {
        if (!*caption) {
            edit->addSeparator();
            continue;
        }
        edit->addAction(QString::fromLatin1(caption))->setEnabled(false);
    }
    // The settings and the build dialog, and the height colouring, keep their keys.
    edit->addSeparator();
    addCommand(edit, ID_EDIT_CFG, QStringLiteral("Edit CFG Parameters..."))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    addCommand(edit, ID_COLOR_CFG, QStringLiteral("Intensity / SNR Color CFG..."));
    addCommand(edit, ID_BUILD_POINT_CLOUD, QStringLiteral("Build Point Cloud..."));
    edit->addSeparator();
    addCommand(edit, ID_DISPLAY_POINT_CLOUD, QStringLiteral("Display Point Cloud"))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));

    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    QAction* showToolBar = addCommand(viewMenu, ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"));
    showToolBar->setCheckable(true);
    showToolBar->setChecked(true);
    connect(showToolBar, &QAction::toggled, toolBar_, &QWidget::setVisible);
    connect(toolBar_, &QToolBar::visibilityChanged, showToolBar, &QAction::setChecked);
    QAction* showStatus = addCommand(viewMenu, ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"));
    showStatus->setCheckable(true);
    showStatus->setChecked(true);
    connect(showStatus, &QAction::toggled, &statusBar_, &QWidget::setVisible);
    viewMenu->addSeparator();
    addCommand(viewMenu, ID_FIT_CLOUD, QStringLiteral("Fit Cloud"))
        ->setShortcut(QKeySequence(Qt::Key_F));
    addCommand(viewMenu, ID_POINTS_LARGER, QStringLiteral("Larger Points"))
        ->setShortcuts({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal)});
    addCommand(viewMenu, ID_POINTS_SMALLER, QStringLiteral("Smaller Points"))
        ->setShortcut(QKeySequence(Qt::Key_Minus));
    const auto toggle = [&](int id, const QString& caption, bool on, auto setter) {
        QAction* a = addCommand(viewMenu, id, caption);
        a->setCheckable(true);
        a->setChecked(on);
        connect(a, &QAction::toggled, &view_, setter);
        return a;
    };
    toggle(ID_LEGEND, QStringLiteral("Legend"), view_.legendShown(), &CChildView::setLegendShown);
    toggle(ID_DEPTH_SHADING, QStringLiteral("Depth Shading"), view_.depthShading(),
           &CChildView::setDepthShading);
    QAction* scan = scanImage_.toggleViewAction();
    scan->setObjectName(QStringLiteral("ID_%1").arg(ID_SCAN_IMAGE));
    scan->setText(QStringLiteral("Scan Image"));
    viewMenu->addAction(scan);
    actions_[ID_SCAN_IMAGE] = scan;

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    addCommand(help, ID_APP_ABOUT, QStringLiteral("&About quarv..."));
}

QAction* CMainFrame::action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::showModes() {
    const int motion = view_.motionMode();
    if (QAction* a = action(ID_TRANSLATE_MOTION)) a->setChecked(motion == kMotionTranslate);
    if (QAction* a = action(ID_ROTATION_MOTION)) a->setChecked(motion == kMotionRotate);
    for (QAction* a : pickGroup_.actions()) {
        a->setChecked(pickModeOf(a->property("commandId").toInt()) == view_.pickMode());
    }
}

bool CMainFrame::event(QEvent* e) {
    if (e->type() == progressEventType()) {
        statusBar_.setProgress(static_cast<ProgressEvent*>(e)->value());
        // Redrawn on the next pass of the event loop, not synchronously: with the GL view in the
        // window every synchronous repaint recomposes the whole window, and a run posts one
        // progress per scan line (measured: a 240-line recording took 6-8 s instead of 2 s
        // under llvmpipe with repaint()).
        statusBar_.update();
        return true;
    }
    return QMainWindow::event(e);
}

} // namespace quarv
