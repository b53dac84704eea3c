// What a database holds, as the summary reports it: the registered dates, the row counts, a
// pending resume and the import's keys.
#pragma once

#include <string>
#include <vector>

#include "store/Engine.h"

namespace yubin::query {

// One of the import's keys or its index, under its name in the database and under a stable
// ASCII name for machine-readable output.
struct KeyPresence {
    const char* index;       // "x_郵便番号"
    const char* stableName;  // "postal_code"
    bool present = false;
};

struct SummaryFacts {
    std::string nationalStamp, officeStamp;  // "" when not registered
    long long nationalRows = 0, officeRows = 0, prefectures = 0, municipalities = 0,
              placeholderMunicipalities = 0;
    long long resumeMarker = 0;     // the row of 登録中; 0 when none (0 also reads as none)
    std::vector<KeyPresence> keys;  // the import's keys and index

    bool resumePending() const { return resumeMarker != 0; }
};

SummaryFacts ReadSummaryFacts(db::Connection& connection);

// "yyyymmdd" -> "yyyy-mm-dd"; "" when the stamp is no calendar date.
std::string IsoDate(const std::string& stamp);

}  // namespace yubin::query
