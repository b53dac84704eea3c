// A text for people with the values it names: a Japanese pattern whose places {1} to {9} take
// the values in turn ("ファイル {1} がありません。"). The pattern is the key of the message
// catalogue (po/en.po), so a message is shown in Japanese as it was written or in the language
// of the command line's locale (Translation.h); the values are never translated.
#pragma once

#include <concepts>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Translation.h"

namespace yubin {

// `pattern` with each {N} (1 to 9) replaced by values[N - 1]; a place with no value is kept.
std::string FormatPlaces(std::string_view pattern, const std::vector<std::string>& values);

inline std::string TextOf(const std::string& text) { return text; }
inline std::string TextOf(std::string_view text) { return std::string(text); }
inline std::string TextOf(const char* text) { return text; }
inline std::string TextOf(std::integral auto number) { return std::to_string(number); }

// `pattern` (already in the language shown, e.g. Tr("...")) with its places filled.
template <typename... Values>
std::string Format(std::string_view pattern, const Values&... values) {
    return FormatPlaces(pattern, {TextOf(values)...});
}

class Message {
  public:
    // A message of the catalogue; `pattern` is a string literal (it is never copied).
    template <typename... Values>
    explicit Message(const char* pattern, const Values&... values) : pattern_(pattern) {
        (values_.push_back(ValueOf(values)), ...);
    }

    // A text that came from elsewhere (a library's message): shown as it is in every language.
    static Message Verbatim(std::string text);

    // The message in Japanese, as written.
    std::string japanese() const;
    // The message in the language Translation.h chose (Japanese until one is chosen).
    std::string translated() const;

  private:
    // A value: a text, or a message of its own, which is shown in the same language.
    struct Value {
        std::string text;
        std::shared_ptr<const Message> message;
    };
    static Value ValueOf(const Message& message) {
        return {{}, std::make_shared<const Message>(message)};
    }
    static Value ValueOf(std::string_view text) { return {std::string(text), nullptr}; }
    static Value ValueOf(const char* text) { return {std::string(text), nullptr}; }
    static Value ValueOf(const std::string& text) { return {text, nullptr}; }
    static Value ValueOf(std::integral auto number) { return {std::to_string(number), nullptr}; }

    std::string compose(bool translate) const;

    const char* pattern_ = "";
    std::string verbatim_;
    bool isVerbatim_ = false;
    std::vector<Value> values_;
};

}  // namespace yubin
