#include "core/viewer/color_ramp.hpp"

#include <cassert>

namespace quarv {

ColorRamp::ColorRamp() {
    size_ = kEntries;
    clearNodes();
    red_[0] = green_[0] = blue_[0] = 0;
    red_[255] = green_[255] = blue_[255] = 255;
    interpolate();
}

void ColorRamp::clearNodes() {
    isNode_.fill(0);
    isNode_[0] = 1;
    isNode_[static_cast<std::size_t>(size_ - 1)] = 1;
    buildNodeList();
}

void ColorRamp::buildNodeList() {
    isNode_[0] = 1;
    isNode_[static_cast<std::size_t>(size_ - 1)] = 1;
    nodeCount_ = 0;
    for (int i = 0; i < size_; ++i) {
        if (isNode_[static_cast<std::size_t>(i)]) {
            nodes_[static_cast<std::size_t>(nodeCount_)] = static_cast<std::uint8_t>(i);
            ++nodeCount_;
        }
    }
    assert(nodeCount_ >= 2);
}

void ColorRamp::interpolateChannel(Channel& channel) const {
    for (int k = 0; k + 1 < nodeCount_; ++k) {
        const int a = nodes_[static_cast<std::size_t>(k)];
        const int b = nodes_[static_cast<std::size_t>(k + 1)];
        assert(b > a);
        const float slope = static_cast<float>(channel[static_cast<std::size_t>(b)] -
                                               channel[static_cast<std::size_t>(a)]) /
                            static_cast<float>(b - a);
        const float offset = static_cast<float>(channel[static_cast<std::size_t>(a)]) -
                             static_cast<float>(a) * slope;
        for (int x = a; x < b; ++x) {
            // Values stay within the two node colours (0..255), so the truncation cannot wrap.
            channel[static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>(static_cast<int>(static_cast<float>(x) * slope + offset));
        }
    }
}

void ColorRamp::interpolate() {
    interpolateChannel(red_);
    interpolateChannel(green_);
    interpolateChannel(blue_);
}

void ColorRamp::setNode(int index, Rgb c) {
    if (index < 0 || index >= size_) return;
    const auto i = static_cast<std::size_t>(index);
    red_[i] = c.r;
    green_[i] = c.g;
    blue_[i] = c.b;
    isNode_[i] = 1;
    buildNodeList();
    interpolate();
}

} // namespace quarv
