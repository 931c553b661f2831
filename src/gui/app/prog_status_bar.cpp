#include "gui/app/prog_status_bar.hpp"

namespace quarv {

CProgStatusBar::CProgStatusBar(QWidget* parent) : QStatusBar(parent), pane0_(QString(17, ' ')) {
    setObjectName(QStringLiteral("CProgStatusBar"));
    pane0_.setObjectName(QStringLiteral("pane0"));
    pane0_.setFixedWidth(kPaneWidth);
    pane1_.setFixedWidth(kPaneWidth);
    pane1Layout_.setContentsMargins(0, 0, 0, 0);
    pane1Layout_.setSpacing(0);
    // The bar covers pane 1 wherever the pane is laid out; the pane's own text shows while the
    // bar is hidden.
    pane1Layout_.addWidget(&pane1Text_);
    pane1Layout_.addWidget(&progress_);
    pane1_.setLayout(&pane1Layout_);
    progress_.setObjectName(QStringLiteral("progress"));
    progress_.setRange(0, 100);
    progress_.setValue(0);
    progress_.setTextVisible(false);
    progress_.hide();
    // A status tip (the pointer resting on a menu item or a toolbar button) hides the normal
    // widgets while it shows; pane 1 is permanent so that a run's progress stays in view.
    addWidget(&pane0_);
    addPermanentWidget(&pane1_);
}

void CProgStatusBar::setPaneText(int pane, const QString& text) {
    (pane == 0 ? pane0_ : pane1Text_).setText(text);
}

void CProgStatusBar::setProgress(int pos) {
    if (progress_.isHidden()) {
        pane1Text_.hide();
        progress_.show();
    }
    progress_.setValue(pos);
    if (pos == 0) pane0_.setText(QStringLiteral("Ready"));
}

} // namespace quarv
