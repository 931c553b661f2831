// A 256-entry colour table built from node colours by straight-line interpolation between
// consecutive nodes. The height colouring of the layers looks colours up in it by index 0..255;
// the ramp in use is the grey ramp of the constructor (entry i = i, i, i).
#pragma once

#include "core/cloud/cloud_point.hpp"

#include <array>
#include <cstdint>

namespace quarv {

class ColorRamp {
public:
    static constexpr int kEntries = 256;

    ColorRamp();

    // Forgets every node except the two ends (entries 0 and size - 1 stay nodes).
    void clearNodes();
    // Rebuilds `nodes` from `isNode`; the two ends are always nodes.
    void buildNodeList();
    // Rewrites every entry between consecutive nodes from the node colours. Each segment runs
    // from the node at its start towards the node at its end in f32 and is truncated, not
    // rounded; the end node keeps its colour and starts the next segment.
    void interpolate();

    // Makes entry `index` a node of colour `c` and rebuilds the table. The node list is not
    // persisted: only the grey ramp of the constructor is used by the program.
    void setNode(int index, Rgb c);

    std::uint8_t red(int i) const { return red_[static_cast<std::size_t>(i)]; }
    std::uint8_t green(int i) const { return green_[static_cast<std::size_t>(i)]; }
    std::uint8_t blue(int i) const { return blue_[static_cast<std::size_t>(i)]; }
    Rgb at(int i) const { return {red(i), green(i), blue(i)}; }

    bool isNode(int i) const { return isNode_[static_cast<std::size_t>(i)] != 0; }
    int node(int k) const { return nodes_[static_cast<std::size_t>(k)]; }
    int nodeCount() const { return nodeCount_; }
    int size() const { return size_; }

private:
    using Channel = std::array<std::uint8_t, kEntries>;
    void interpolateChannel(Channel& channel) const;

    Channel red_{}, green_{}, blue_{};
    std::array<std::uint8_t, kEntries> isNode_{};
    std::array<std::uint8_t, kEntries> nodes_{};
    int size_ = kEntries;
    int nodeCount_ = 0;
};

} // namespace quarv
