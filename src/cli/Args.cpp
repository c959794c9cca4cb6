#include <algorithm>

#include "base/Text.h"
#include "cli/Commands.h"

namespace corvane::cli {

TArgs::TArgs(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i)
        FArgs.emplace_back(argv[i]);
}

std::string TArgs::Value(const std::string& option) const {
    for (size_t i = 0; i < FArgs.size(); ++i) {
        if (FArgs[i] == option && i + 1 < FArgs.size())
            return FArgs[i + 1];
        if (FArgs[i].rfind(option + "=", 0) == 0)
            return FArgs[i].substr(option.size() + 1);
    }
    return {};
}

int TArgs::IntValue(const std::string& option, int fallback) const {
    auto value = ParseInt64(Value(option));
    return value && *value >= 0 && *value < 100000 ? static_cast<int>(*value) : fallback;
}

bool TArgs::Flag(const std::string& option) const {
    return std::find(FArgs.begin(), FArgs.end(), option) != FArgs.end();
}

std::vector<std::string> TArgs::Unknown(const std::vector<std::string>& withValue,
                                        const std::vector<std::string>& flags) const {
    std::vector<std::string> unknown;
    for (size_t i = 0; i < FArgs.size(); ++i) {
        const std::string& arg = FArgs[i];
        std::string name = arg.substr(0, arg.find('='));
        if (std::find(withValue.begin(), withValue.end(), name) != withValue.end()) {
            if (name == arg)
                ++i;  // its value follows
            continue;
        }
        if (std::find(flags.begin(), flags.end(), arg) != flags.end())
            continue;
        unknown.push_back(arg);
    }
    return unknown;
}

}  // namespace corvane::cli
