// A float vector for plot data whose element access refuses an index outside its size (the
// caller sees false) instead of writing or reading past the end.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quarv {

class FloatVector {
public:
    FloatVector() = default;
    explicit FloatVector(std::size_t count) : values_(count, 0.0f) {}

    // New entries are 0; the vector only holds `count` entries afterwards.
    void resize(std::size_t count) { values_.resize(count, 0.0f); }
    std::size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }

    bool set(std::size_t index, float value) {
        if (index >= values_.size()) return false;
        values_[index] = value;
        return true;
    }
    bool get(std::size_t index, float& value) const {
        if (index >= values_.size()) return false;
        value = values_[index];
        return true;
    }
    void fill(float value) { values_.assign(values_.size(), value); }

    std::span<const float> values() const { return values_; }
    std::span<float> values() { return values_; }

private:
    std::vector<float> values_;
};

} // namespace quarv
