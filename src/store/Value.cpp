// Field values and connection strings.
#include <cctype>
#include <string>

#include "store/Engine.h"
#include "store/TextRules.h"

namespace yubin::db {

std::string Value::toText() const {
    if (isNull()) return {};
    if (isNumber()) return std::to_string(number());
    return text();
}

long long Value::toNumber() const {
    if (isNumber()) return number();
    if (isText()) {
        long long result = 0;
        switch (detail::parseWholeNumber(text(), result)) {
            case detail::WholeNumber::Ok:
                return result;
            case detail::WholeNumber::TooLarge:
                throw YubinError(ErrorCode::NumericOverflow,
                                 Message("値「{1}」は大きすぎて数値にできません。", text()));
            case detail::WholeNumber::NotANumber:
                break;
        }
        throw YubinError(ErrorCode::TypeMismatch,
                         Message("値「{1}」は整数ではありません。", text()));
    }
    throw YubinError(ErrorCode::TypeMismatch, Message("Null は数値にできません。"));
}

void Value::assignText(std::string_view newText) {
    if (auto* held = std::get_if<std::string>(&v_)) {
        held->assign(newText.data(), newText.size());
    } else {
        v_ = std::string(newText);
    }
}

namespace {

std::string_view trimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

std::string quoteConnectionValue(std::string_view value) {
    const bool plain = value.find_first_of(";\"'") == std::string_view::npos &&
                       (value.empty() || (value.front() != ' ' && value.front() != '\t'));
    if (plain) return std::string(value);
    std::string quoted = "\"";
    for (char c : value) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + "\"";
}

ConnectionInfo parseConnectionString(std::string_view connectionString) {
    ConnectionInfo info;
    bool haveSource = false;
    size_t pos = 0;
    while (pos < connectionString.size()) {
        const size_t equals = connectionString.find('=', pos);
        if (equals == std::string_view::npos) {
            if (!trimSpaces(connectionString.substr(pos)).empty()) {
                throw YubinError(
                    ErrorCode::InvalidArgument,
                    Message("接続文字列の形式が正しくありません: {1}", connectionString));
            }
            break;
        }
        const std::string_view key = trimSpaces(connectionString.substr(pos, equals - pos));
        std::string value;
        size_t next = equals + 1;
        while (next < connectionString.size() && connectionString[next] == ' ') ++next;
        if (next < connectionString.size() &&
            (connectionString[next] == '"' || connectionString[next] == '\'')) {
            // A quoted value may hold semicolons; a doubled quote stands for one.
            const char quote = connectionString[next++];
            for (;;) {
                if (next >= connectionString.size()) {
                    throw YubinError(
                        ErrorCode::InvalidArgument,
                        Message("接続文字列の引用符が閉じていません: {1}", connectionString));
                }
                if (connectionString[next] == quote) {
                    if (next + 1 < connectionString.size() && connectionString[next + 1] == quote) {
                        value += quote;
                        next += 2;
                        continue;
                    }
                    ++next;
                    break;
                }
                value += connectionString[next++];
            }
            const size_t semicolon = connectionString.find(';', next);
            pos = semicolon == std::string_view::npos ? connectionString.size() : semicolon + 1;
        } else {
            const size_t semicolon = connectionString.find(';', equals + 1);
            const size_t end =
                semicolon == std::string_view::npos ? connectionString.size() : semicolon;
            value = std::string(connectionString.substr(equals + 1, end - equals - 1));
            pos = end + 1;
        }
        if (equalsIgnoringCase(key, "Provider")) {
            info.provider = std::string(trimSpaces(value));
        } else if (equalsIgnoringCase(key, "Data Source")) {
            info.dataSource = value;
            haveSource = true;
        } else if (equalsIgnoringCase(key, "Jet OLEDB:Database Password")) {
            info.password = value;
        }
    }
    if (!haveSource || info.dataSource.empty()) {
        throw YubinError(ErrorCode::InvalidArgument,
                         Message("接続文字列に Data Source がありません: {1}", connectionString));
    }
    return info;
}

}  // namespace yubin::db
