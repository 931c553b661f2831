#include "core/app/message_sink.hpp"

#include <cstdarg>
#include <cstdio>

namespace quarv {

void StderrSink::report(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

void RecordingSink::report(const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
}

std::vector<std::string> RecordingSink::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::string RecordingSink::last() const {
    std::lock_guard lock(mutex_);
    return messages_.empty() ? std::string() : messages_.back();
}

void RecordingSink::clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

std::string formatMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatMessageV(format, args);
    va_end(args);
    return text;
}

std::string formatMessageV(const char* format, va_list args) {
    // Measured first, so that no path or message is ever cut.
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<std::size_t>(n));
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

} // namespace quarv
