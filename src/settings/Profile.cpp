#include "settings/Profile.h"

#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

#include "base/Error.h"
#include "base/Text.h"
#include "settings/FileIo.h"

namespace yubin::profile {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Values lose surrounding spaces only: a TAB is part of the value.
std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

enum class LineKind { Other, Section, Key };

// One line of the file: where it lies in the text and what it is.
struct Line {
    size_t begin = 0;       // first byte of the line (after a byte-order mark)
    size_t contentEnd = 0;  // end of the text before the line end
    size_t end = 0;         // after the line end
    LineKind kind = LineKind::Other;
    std::string_view name;   // section name or key
    std::string_view value;  // key lines only
};

void Classify(std::string_view content, Line& line) {
    std::string_view rest = TrimBlanks(content);
    if (!rest.empty() && rest.front() == '[') {
        size_t close = rest.find(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = TrimBlanks(rest.substr(1, close - 1));
            return;
        }
    }
    size_t equals = content.find('=');
    if (equals != std::string_view::npos) {
        line.kind = LineKind::Key;
        line.name = TrimBlanks(content.substr(0, equals));
        line.value = TrimSpaces(content.substr(equals + 1));
    }
}

// The lines of the file text, a byte-order mark skipped. Ends are LF or CR LF; a CR at the
// very end of the text also ends the last line.
std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t pos =
        text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? kByteOrderMark.size() : 0;
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        size_t newline = text.find('\n', pos);
        line.end = newline == std::string_view::npos ? text.size() : newline + 1;
        line.contentEnd = newline == std::string_view::npos ? text.size() : newline;
        if (line.contentEnd > line.begin && text[line.contentEnd - 1] == '\r') --line.contentEnd;
        Classify(text.substr(line.begin, line.contentEnd - line.begin), line);
        lines.push_back(line);
        pos = line.end;
    }
    return lines;
}

// Where a section lies among the lines: its header and the lines up to the next header.
struct SectionPlace {
    size_t header = 0;
    size_t end = 0;  // index after its last line
};

std::optional<SectionPlace> FindSection(const std::vector<Line>& lines, std::string_view name) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != LineKind::Section || !EqualsIgnoringAsciiCase(lines[i].name, name)) {
            continue;
        }
        size_t end = i + 1;
        while (end < lines.size() && lines[end].kind != LineKind::Section) ++end;
        return SectionPlace{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<Line>& lines, const SectionPlace& section,
                              std::string_view key) {
    for (size_t i = section.header + 1; i < section.end; ++i) {
        if (lines[i].kind == LineKind::Key && EqualsIgnoringAsciiCase(lines[i].name, key)) return i;
    }
    return std::nullopt;
}

// The line end the file uses: that of its first line, CR LF when it has none.
std::string LineEndOf(std::string_view text) {
    size_t newline = text.find('\n');
    if (newline != std::string_view::npos && (newline == 0 || text[newline - 1] != '\r')) {
        return "\n";
    }
    return "\r\n";
}

[[noreturn]] void Refuse(const Message& what) {
    throw YubinError(
        ErrorCode::BadSettingsValue,
        Message("設定ファイルに書き込めません（何も書き込んでいません）: {1}。", what));
}

bool HoldsLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

std::string CutToReadBuffer(const std::string& text) {
    constexpr size_t kMax = kReadBufferSize - 1;
    if (text.size() <= kMax) return text;
    // text[kMax] is the first byte that does not fit. If it continues a character (10xxxxxx),
    // go back to that character's first byte and cut there; a UTF-8 character has at most
    // three continuation bytes, so no more than three steps are taken even in broken text.
    size_t cut = kMax;
    for (int step = 0; step < 3 && cut > 0; ++step) {
        if ((static_cast<unsigned char>(text[cut]) & 0xC0) != 0x80) break;
        --cut;
    }
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) cut = kMax;  // not UTF-8 at all
    return text.substr(0, cut);
}

std::optional<Message> ValueProblem(const std::string& value) {
    if (HoldsLineBreakOrNul(value)) return Message("改行または NUL 文字を含んでいます");
    if (value.size() > static_cast<size_t>(kReadBufferSize - 1)) {
        return Message("{1} バイトあり、読み取れる {2} バイトを超えています", value.size(),
                       kReadBufferSize - 1);
    }
    if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) {
        return Message("先頭または末尾の空白は読み取るときに失われます");
    }
    return std::nullopt;
}

void CheckEntry(const std::string& section, const std::string& key, const std::string& value) {
    if (HoldsLineBreakOrNul(section)) {
        Refuse(Message("セクション名が改行または NUL 文字を含んでいます"));
    }
    if (HoldsLineBreakOrNul(key)) Refuse(Message("キー名が改行または NUL 文字を含んでいます"));
    if (const std::optional<Message> problem = ValueProblem(value)) {
        Refuse(Message("キー {1} の値は{2}", key, *problem));
    }
    std::string_view sectionName = TrimBlanks(section);
    std::string_view keyName = TrimBlanks(key);
    if (sectionName.empty()) Refuse(Message("セクション名が空です"));
    if (sectionName.find(']') != std::string_view::npos) {
        Refuse(Message("セクション名 \"{1}\" が \"]\" を含んでいます", section));
    }
    if (keyName.empty()) Refuse(Message("キー名が空です"));
    if (keyName.find('=') != std::string_view::npos) {
        Refuse(Message("キー名 \"{1}\" が \"=\" を含んでいます", key));
    }
    if (keyName.front() == '[') Refuse(Message("キー名 \"{1}\" が \"[\" で始まっています", key));
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& file) {
    std::string text;
    if (settings::ReadWholeFile(file, text) != 0) return CutToReadBuffer(defaultValue);
    std::vector<Line> lines = SplitLines(text);
    std::optional<SectionPlace> place = FindSection(lines, TrimBlanks(section));
    if (!place) return CutToReadBuffer(defaultValue);
    std::optional<size_t> line = FindKey(lines, *place, TrimBlanks(key));
    if (!line) return CutToReadBuffer(defaultValue);
    return CutToReadBuffer(std::string(lines[*line].value));
}

void WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file) {
    CheckEntry(section, key, value);
    std::string_view sectionName = TrimBlanks(section);
    std::string_view keyName = TrimBlanks(key);

    std::string text;
    if (int error = settings::ReadWholeFile(file, text); error != 0 && error != ENOENT) {
        // Rewriting a file we cannot read would lose its other lines.
        settings::FailUnreadableSettingsFile(file, error);
    }
    const std::string eol = LineEndOf(text);
    const std::string keyLine = std::string(keyName) + "=" + value;
    std::vector<Line> lines = SplitLines(text);

    std::string updated;
    std::optional<SectionPlace> place = FindSection(lines, sectionName);
    if (!place) {
        updated = text;
        if (!updated.empty() && updated.back() == '\r') {
            updated += '\n';
        } else if (!updated.empty() && updated.back() != '\n' && updated != kByteOrderMark) {
            updated += eol;
        }
        updated += "[" + std::string(sectionName) + "]" + eol + keyLine + eol;
    } else if (std::optional<size_t> found = FindKey(lines, *place, keyName)) {
        const Line& line = lines[*found];
        updated = text.substr(0, line.begin) + keyLine + text.substr(line.contentEnd);
    } else {
        size_t after = place->header;
        for (size_t i = place->header + 1; i < place->end; ++i) {
            if (lines[i].kind == LineKind::Key) after = i;
        }
        const Line& line = lines[after];
        updated = text.substr(0, line.end);
        if (text[line.end - 1] != '\n') {  // the last line of the file, not yet ended
            updated += text[line.end - 1] == '\r' ? "\n" : eol;
        }
        updated += keyLine + eol + text.substr(line.end);
    }
    settings::ReplaceFileAtomically(file, updated);
}

}  // namespace yubin::profile
