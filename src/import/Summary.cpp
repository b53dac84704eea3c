// The registered-data summary and the texts of the progress and result captions.
#include <charconv>
#include <cstdio>
#include <cstring>

#include "base/Message.h"
#include "import/DataCompleteness.h"
#include "import/EngineSupport.h"
#include "store/mdlYubinBox.h"

namespace yubin::mdInport {

// "( 12.34% )" from hundredths of a percent.
std::string FormatPercentHundredths(std::uint64_t hundredths) {
    char buffer[64] = "( ";
    char* end = std::to_chars(buffer + 2, buffer + 40, hundredths / 100).ptr;
    *end++ = '.';
    *end++ = static_cast<char>('0' + hundredths / 10 % 10);
    *end++ = static_cast<char>('0' + hundredths % 10);
    std::memcpy(end, "% )", 4);
    return buffer;
}

std::uint64_t PercentHundredths(std::uint64_t consumed, std::uint64_t length) {
    if (length == 0) return 0;
    // The pattern "0.00" rounds the decimal value half away from zero; the exact quotient in
    // integers does that where the binary double would round 2.675 down.
    const unsigned __int128 twice = static_cast<unsigned __int128>(consumed) * 20000u + length;
    return static_cast<std::uint64_t>(twice / (2u * length));
}

std::string FormatPercent(std::uint64_t consumed, std::uint64_t length) {
    return FormatPercentHundredths(PercentHundredths(consumed, length));
}

std::string FormatElapsed(double seconds, Translator translate) {
    long long total = seconds <= 0 ? 0 : static_cast<long long>(seconds + 0.5);
    const long long hours = total / 3600;
    char minutes[32], rest[32], hoursText[32];
    std::snprintf(minutes, sizeof minutes, "%02lld", total / 60 % 60);
    std::snprintf(rest, sizeof rest, "%02lld", total % 60);
    // "hh:" with every "00:" removed: only a zero hours field goes, however many digits the
    // hours take.
    if (hours == 0) return FormatPlaces(translate(TrMark("{1}分{2}秒")), {minutes, rest});
    std::snprintf(hoursText, sizeof hoursText, "%02lld", hours);
    return FormatPlaces(translate(TrMark("{1}:{2}分{3}秒")), {hoursText, minutes, rest});
}

std::string FormatCount(long count) {
    std::string digits = std::to_string(count < 0 ? -static_cast<long long>(count) : count);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return count < 0 ? "-" + text : text;
}

std::string FormatStamp(const std::string& stamp, Translator translate) {
    if (stamp.size() != 8) return stamp;
    for (char c : stamp) {
        if (c < '0' || c > '9') return stamp;
    }
    const int month = std::stoi(stamp.substr(4, 2));
    const int day = std::stoi(stamp.substr(6, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31) return stamp;
    return FormatPlaces(translate(TrMark("{1}年{2}月{3}日")),
                        {stamp.substr(0, 4), stamp.substr(4, 2), stamp.substr(6, 2)});
}

std::string SummaryText(const std::string& nationalStamp, const std::string& officeStamp,
                        Translator translate) {
    if (nationalStamp.empty() && officeStamp.empty()) return "";
    std::string text = translate(kSummaryHeading);
    if (!nationalStamp.empty()) {
        text += std::string("\r\n") + translate(kNationalSummaryLabel) +
                FormatStamp(nationalStamp, translate);
    }
    if (!officeStamp.empty()) {
        text += std::string("\r\n") + translate(kOfficeSummaryLabel) +
                FormatStamp(officeStamp, translate);
    }
    return text;
}

Sakuseibi ShowSakuseibi(import::ImportView& view) {
    mdlYubinBox::OpenMdb(mdlYubinBox::strMdbFile);
    return ShowSakuseibiOpen(view);
}

Sakuseibi ShowSakuseibiOpen(import::ImportView& view) {
    db::Recordset rs;
    mdlYubinBox::strSQL = "SELECT * FROM 作成日";
    rs.open(mdlYubinBox::strSQL, detail::connection(), db::CursorType::ForwardOnly,
            db::LockType::ReadOnly);
    Sakuseibi stamps;
    const bool registered = !rs.eof();
    if (registered) {
        stamps = {rs.field("ZIPALL").value().toText(), rs.field("JIGYOSYO").value().toText()};
    }
    rs.close();
    // Data that is not all there is said to be so, with how to finish it, never dated.
    const import::Completeness completeness = import::ReadCompleteness(detail::connection());
    if (completeness.nationalIncomplete) stamps[0].clear();  // nothing to be older than
    if (completeness.officeIncomplete) stamps[1].clear();
    if (registered || completeness.nationalIncomplete || completeness.officeIncomplete) {
        view.setSummaryCaption(
            import::CompletenessSummary(stamps[0], stamps[1], completeness, view.language()));
        view.setSummaryVisible(true);
    }
    return stamps;
}

}  // namespace yubin::mdInport
