#include "gui/dialogs/layer_dlg.hpp"

#include "core/cloud/cloud_store.hpp"
#include "core/config/viewer_settings.hpp"

#include <algorithm>
#include <cstring>

namespace quarv {
namespace {

// A colour button shows its colour; its caption stays readable on light and dark colours.
void paintColorButton(QPushButton& b, const Rgb& c) {
    const int luma = (299 * c.r + 587 * c.g + 114 * c.b) / 1000;
    b.setStyleSheet(QStringLiteral("QPushButton { background-color: rgb(%1,%2,%3); color: %4; "
                                   "border: 1px solid #555; padding: 3px 8px; }")
                        .arg(c.r)
                        .arg(c.g)
                        .arg(c.b)
                        .arg(luma < 128 ? QStringLiteral("white") : QStringLiteral("black")));
}

std::string layerName(const PointLayer& l) {
    return std::string(l.name.data(), strnlen(l.name.data(), l.name.size()));
}

} // namespace

struct layerDlg::Row {
    QGroupBox box;
    QGridLayout grid;
    QPushButton load{QStringLiteral("Load File")};
    QCheckBox enabled{QStringLiteral("Enabled")};
    QCheckBox range{QStringLiteral("Range")};
    QCheckBox intensity{QStringLiteral("Intensity")};
    QCheckBox saturated{QStringLiteral("Saturated")};
    QPushButton startColor{QStringLiteral("Start Color")};
    QPushButton endColor{QStringLiteral("End Color")};
    Rgb from, to;
    QLabel ptSizeLabel{QStringLiteral("Pt Size")};
    NumEdit ptSize{-9999, 9999, 1};
    QLabel rangeLabel{QStringLiteral("Range min, max")};
    NumEdit rangeMin{-100000, 100000, 3};
    NumEdit rangeMax{-100000, 100000, 3};
    QLabel snrLabel{QStringLiteral("SNR Limit")};
    NumEdit snrMin{-1e12, 1e12, 2};
    QGroupBox clutterBox;
    QHBoxLayout clutterLayout;
    QCheckBox clutterEnable{QStringLiteral("Enable")};
    QLabel minDistLabel{QStringLiteral("Min Dist (m)")};
    NumEdit minDist{-1000, 1000, 4};
    QLabel filenameCaption{QStringLiteral("Filename: ")};
    QLabel filename;
    QLabel returnsLabel{QStringLiteral("Returns / pulse")};
    QSpinBox returns;
    QLabel shownLabel{QStringLiteral("Show returns")};
    QComboBox shown;

    explicit Row(int index) {
        const QString n = QStringLiteral("layer%1.").arg(index);
        box.setTitle(QStringLiteral("Layer %1").arg(index + 1));
        box.setLayout(&grid);
        load.setObjectName(n + "load");
        enabled.setObjectName(n + "enabled");
        range.setObjectName(n + "range");
        intensity.setObjectName(n + "intensity");
        saturated.setObjectName(n + "saturated");
        startColor.setObjectName(n + "startColor");
        endColor.setObjectName(n + "endColor");
        ptSize.setObjectName(n + "ptSize");
        rangeMin.setObjectName(n + "rangeMin");
        rangeMax.setObjectName(n + "rangeMax");
        snrMin.setObjectName(n + "snrMin");
        clutterEnable.setObjectName(n + "clutterEnable");
        minDist.setObjectName(n + "minDist");
        filename.setObjectName(n + "filename");
        returns.setObjectName(n + "returns");
        shown.setObjectName(n + "shownReturns");
        returns.setRange(1, static_cast<int>(kMaxReturns));
        returns.setToolTip(QStringLiteral("Returns looked for in each pulse by the next run "
                                          "(1: the strongest pulse-shaped peak only)"));
        // In the order of kShowAllReturns ... kShowStrongestReturn.
        shown.addItems({QStringLiteral("all"), QStringLiteral("first"), QStringLiteral("last"),
                        QStringLiteral("strongest")});
        filename.setTextInteractionFlags(Qt::TextSelectableByMouse);
        filename.setMinimumWidth(200);
        // A long path must not widen the dialog past the screen: the label shows what fits,
        // its tooltip and a selection give the whole path.
        filename.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

        grid.addWidget(&load, 0, 0);
        grid.addWidget(&enabled, 0, 1);
        grid.addWidget(&range, 0, 2);
        grid.addWidget(&intensity, 0, 3);
        grid.addWidget(&saturated, 0, 4);
        grid.addWidget(&startColor, 0, 5);
        grid.addWidget(&endColor, 0, 6);
        grid.addWidget(&filenameCaption, 0, 7, Qt::AlignRight);
        grid.addWidget(&filename, 0, 8, 1, 3);

        ptSize.setMinimumWidth(70);
        grid.addWidget(&ptSizeLabel, 1, 0, Qt::AlignRight);
        grid.addWidget(&ptSize, 1, 1);
        grid.addWidget(&rangeLabel, 1, 2, 1, 2, Qt::AlignRight);
        grid.addWidget(&rangeMin, 1, 4);
        grid.addWidget(&rangeMax, 1, 5);
        grid.addWidget(&snrLabel, 1, 6, Qt::AlignRight);
        grid.addWidget(&snrMin, 1, 7);

        clutterBox.setTitle(QStringLiteral("Clutter Filter"));
        clutterBox.setLayout(&clutterLayout);
        clutterLayout.setContentsMargins(6, 2, 6, 2);
        clutterLayout.addWidget(&clutterEnable);
        clutterLayout.addWidget(&minDistLabel);
        clutterLayout.addWidget(&minDist);
        grid.addWidget(&clutterBox, 1, 8, 1, 3);
        grid.addWidget(&returnsLabel, 2, 0, 1, 2, Qt::AlignRight);
        grid.addWidget(&returns, 2, 2);
        grid.addWidget(&shownLabel, 2, 3, 1, 2, Qt::AlignRight);
        grid.addWidget(&shown, 2, 5);
        grid.setColumnStretch(10, 1);
    }
};

layerDlg::layerDlg(CloudStore& store, MessageSink& sink, QWidget* parent)
    : QDialog(parent), store_(store), sink_(sink), chooseFile_(standardFileChooser()),
      chooseColor_(standardColorChooser()) {
    setWindowTitle(QStringLiteral("Layer Selection Dialog"));
    setLayout(&layout_);
    for (std::uint32_t i = 0; i < LAYER_COUNT; ++i) {
        rows_[i] = std::make_unique<Row>(static_cast<int>(i));
        Row& r = *rows_[i];
        layout_.addWidget(&r.box);
        connect(&r.load, &QPushButton::clicked, this, [this, i] { loadFile(i); });
        // Range and Intensity colour the layer one way or the other, never both.
        connect(&r.range, &QCheckBox::clicked, this, [&r] {
            if (r.range.isChecked()) r.intensity.setChecked(false);
        });
        connect(&r.intensity, &QCheckBox::clicked, this, [&r] {
            if (r.intensity.isChecked()) r.range.setChecked(false);
        });
        connect(&r.startColor, &QPushButton::clicked, this,
                [this, &r] { pickColor(r.startColor, r.from); });
        connect(&r.endColor, &QPushButton::clicked, this,
                [this, &r] { pickColor(r.endColor, r.to); });
    }
    performButton_.setDefault(true);
    buttons_.addButton(&performButton_, QDialogButtonBox::AcceptRole);
    buttons_.addButton(&cancelButton_, QDialogButtonBox::RejectRole);
    layout_.addWidget(&buttons_);
    connect(&performButton_, &QPushButton::clicked, this, &layerDlg::performUpdates);
    connect(&cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    initialise();
}

layerDlg::~layerDlg() = default;

void layerDlg::showEvent(QShowEvent* event) {
    initialise();
    QDialog::showEvent(event);
}

void layerDlg::initialise() {
    for (std::uint32_t i = 0; i < LAYER_COUNT; ++i) {
        const PointLayer& l = store_.layer(i);
        Row& r = *rows_[i];
        r.from = l.colorFrom;
        r.to = l.colorTo;
        paintColorButton(r.startColor, r.from);
        paintColorButton(r.endColor, r.to);
        r.enabled.setChecked(l.inUse != 0);
        r.range.setChecked(l.colorMode == kColorByRange);
        r.intensity.setChecked(l.colorMode == kColorByAmplitudeRank);
        r.saturated.setChecked(l.showSaturated != 0);
        r.filename.setText(QString::fromStdString(layerName(l)));
        r.filename.setToolTip(r.filename.text());
        r.ptSize.setValue(l.pointSize);
        r.rangeMin.setValue(l.rangeMin);
        r.rangeMax.setValue(l.rangeMax);
        r.snrMin.setValue(l.snrMin);
        r.clutterEnable.setChecked(l.neighbourFilter != 0);
        r.minDist.setValue(l.filterDistance);
        r.returns.setValue(l.returns);
        r.shown.setCurrentIndex(l.returnsShown);
    }
    fileChosen_ = false;
}

void layerDlg::pickColor(QPushButton& button, Rgb& colour) {
    const QColor c = chooseColor_(this, QColor(colour.r, colour.g, colour.b));
    if (!c.isValid()) return;
    colour = {static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
              static_cast<std::uint8_t>(c.blue())};
    paintColorButton(button, colour);
}

void layerDlg::performUpdates() {
    for (std::uint32_t i = 0; i < LAYER_COUNT; ++i) {
        PointLayer& l = store_.layer(i);
        const Row& r = *rows_[i];
        l.colorFrom = r.from;
        l.colorTo = r.to;
        l.colorFromExtra = 0;
        l.colorToExtra = 0;
        l.inUse = r.enabled.isChecked() ? 1 : 0;
        // With neither box ticked the layer keeps the colouring it had (e.g. by SNR rank).
        if (r.range.isChecked())
            l.colorMode = kColorByRange;
        else if (r.intensity.isChecked())
            l.colorMode = kColorByAmplitudeRank;
        l.showSaturated = r.saturated.isChecked() ? 1 : 0;
        l.pointSize = controlToByte(r.ptSize.value());
        l.rangeMin = static_cast<float>(r.rangeMin.value());
        l.rangeMax = static_cast<float>(r.rangeMax.value());
        l.snrMin = static_cast<float>(r.snrMin.value());
        l.neighbourFilter = r.clutterEnable.isChecked() ? 1 : 0;
        l.filterDistance = r.minDist.value();
        l.returns = static_cast<std::uint8_t>(r.returns.value());
        l.returnsShown = static_cast<std::uint8_t>(std::max(0, r.shown.currentIndex()));
    }
    store_.markChanged();
    accept();
}

void layerDlg::loadFile(std::uint32_t layer) {
    fileChosen_ = false;
    const QString path =
        chooseFile_(this, QStringLiteral("Load File"), QString::fromLatin1(kLayerFileFilter));
    if (path.isEmpty()) return;
    chosenPath_ = path.toStdString();
    chosenLayer_ = layer < LAYER_COUNT ? layer : LAYER_COUNT - 1;
    fileChosen_ = true;
    performUpdates();
}

bool layerDlg::chosenFile(std::uint32_t& layer, std::string& path) const {
    if (!fileChosen_) return false;
    layer = chosenLayer_;
    path = chosenPath_;
    return true;
}

} // namespace quarv
