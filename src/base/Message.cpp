#include "base/Message.h"

#include "base/Translation.h"

namespace yubin {

std::string FormatPlaces(std::string_view pattern, const std::vector<std::string>& values) {
    std::string out;
    out.reserve(pattern.size() + 32);
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 1] >= '1' &&
            pattern[i + 1] <= '9' && pattern[i + 2] == '}') {
            const auto index = static_cast<size_t>(pattern[i + 1] - '1');
            if (index < values.size()) {
                out += values[index];
                i += 2;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

Message Message::Verbatim(std::string text) {
    Message message("");
    message.verbatim_ = std::move(text);
    message.isVerbatim_ = true;
    return message;
}

std::string Message::japanese() const { return compose(false); }

std::string Message::translated() const { return compose(true); }

std::string Message::compose(bool translate) const {
    if (isVerbatim_) return verbatim_;
    std::vector<std::string> values;
    values.reserve(values_.size());
    for (const Value& value : values_) {
        values.push_back(!value.message ? value.text
                         : translate    ? value.message->translated()
                                        : value.message->japanese());
    }
    return FormatPlaces(translate ? Tr(pattern_) : pattern_, values);
}

}  // namespace yubin
