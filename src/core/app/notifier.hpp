// The only way the processing side reaches the windows: "the cloud changed" and "progress n".
// The GUI posts its custom events (0x800D, 0x800E); the CLI draws a progress bar.
#pragma once

namespace quarv {

class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void cloudChanged() = 0;
    virtual void progress(int percent) = 0;
    // The layer's centroid, for the view to turn about (metres, cloud frame).
    virtual void setTarget(float /*x*/, float /*y*/, float /*z*/) {}
};

class NullNotifier final : public Notifier {
public:
    void cloudChanged() override {}
    void progress(int) override {}
};

} // namespace quarv
