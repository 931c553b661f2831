#include "cli/commands.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace quarv::cli {

std::vector<Command>& commands() {
    static std::vector<Command> table;
    return table;
}

Args::Args(int argc, char** argv, std::vector<std::string> flagNames) {
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) == 0 || (a.size() == 2 && a[0] == '-' && !std::isdigit(a[1]))) {
            const std::string name = a.substr(a[1] == '-' ? 2 : 1);
            if (std::find(flagNames.begin(), flagNames.end(), name) != flagNames.end()) {
                flags_.push_back(name);
            } else if (i + 1 < argc) {
                values_.emplace_back(name, argv[++i]);
            } else if (error_.empty()) {
                error_ = "missing value for " + a;
            }
        } else {
            positional_.push_back(a);
        }
    }
}

std::optional<std::string> Args::value(const std::string& name) const {
    for (auto it = values_.rbegin(); it != values_.rend(); ++it)
        if (it->first == name) return it->second;
    return std::nullopt;
}

bool Args::flag(const std::string& name) const {
    return std::find(flags_.begin(), flags_.end(), name) != flags_.end();
}

std::optional<double> Args::number(const std::string& name) const {
    auto v = value(name);
    if (!v) return std::nullopt;
    char* end = nullptr;
    const double d = std::strtod(v->c_str(), &end);
    if (end == v->c_str() || *end != '\0') {
        if (error_.empty()) error_ = "not a number for --" + name + ": " + *v;
        return std::nullopt;
    }
    return d;
}

} // namespace quarv::cli
