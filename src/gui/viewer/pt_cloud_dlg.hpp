// "Point Information": the values of one picked point in four lines. The dialog keeps its own
// copy of the point's readings; the texts are formatted each time it is shown.
#pragma once

#include "core/cloud/cloud_point.hpp"

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace quarv {

class PtCloudDlg : public QDialog {
    Q_OBJECT
public:
    explicit PtCloudDlg(QWidget* parent = nullptr);

    // The point and its side record (null when nothing is known of its source): a point that
    // averages several pulses shows them and their spread, a pulse's later return its number.
    void setPoint(const CloudPoint& p, const PointExtra* extra = nullptr);
    // "Waveform" closes the dialog with this result; it is enabled only for points made from a
    // recording (not for LAS imports or rebuilt cloud files).
    static constexpr int kWaveformChosen = 2;
    void setWaveformAvailable(bool on) { waveform_.setEnabled(on); }
    QPushButton& waveformButton() { return waveform_; }

    // The four value texts as they were last formatted (also what the labels show).
    QString xyzText() const { return xyz_.text(); }
    QString azElText() const { return azEl_.text(); }
    QString rangeText() const { return range_.text(); }
    QString peakText() const { return peak_.text(); }
    QString pulsesText() const { return pulses_.text(); }
    QString returnText() const { return return_.text(); }

    // Formats the four lines from the stored copy.
    void formatTexts();

protected:
    void showEvent(QShowEvent* event) override;

private:
    float azimuth_ = 0, elevation_ = 0, range_m_ = 0;
    float x_ = 0, y_ = 0, z_ = 0;
    float snr_ = 0, peakPosition_ = 0, amplitude_ = 0;
    bool saturated_ = false;
    PointExtra extra_;

    QGridLayout layout_;
    QLabel xyzLabel_, azElLabel_, rangeLabel_, peakLabel_, pulsesLabel_, returnLabel_;
    QLabel xyz_, azEl_, range_, peak_, pulses_, return_;
    QPushButton waveform_;
    QPushButton ok_;
};

} // namespace quarv
