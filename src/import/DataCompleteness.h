// Whether the registered data is all there. An engine that replaces (or continues) the data of
// one kind marks it incomplete and takes its registered date away before it deletes or
// appends a row, and marks it whole again only after it has recorded the new file's date. So
// whatever ends a run in between (a full disk, a kill, a power cut), no date is ever shown
// over data that is not all there, and the summary says how to finish it.
#pragma once

#include <string>

#include "base/Translation.h"
#include "import/DataFile.h"
#include "store/Engine.h"

namespace yubin::import {

struct Completeness {
    bool nationalIncomplete = false;
    bool officeIncomplete = false;
    long long resumeMarker = 0;  // the row of 登録中; 0 when there is none
};

// Called by an engine before it deletes or appends anything, once its file has passed the
// check (CheckDataFileForImport): the data of `kind` marked incomplete (`path` kept as the file
// being imported) and its date in 作成日 emptied (Null).
void PrepareToReplace(db::Connection& connection, DataKind kind, const std::string& path);
// Called by an engine after it has recorded the file's date: the data of `kind` is whole.
void MarkComplete(db::Connection& connection, DataKind kind);

Completeness ReadCompleteness(db::Connection& connection);

// The summary of the registered data (mdInport::SummaryText) with, for data that is not all
// there, a line that says so in place of its date and a line that says how to finish it ("" when
// nothing is registered and nothing is incomplete).
// `translate` gives the language (Translation.h): the windows keep the Japanese.
std::string CompletenessSummary(const std::string& nationalStamp, const std::string& officeStamp,
                                const Completeness& completeness,
                                Translator translate = Untranslated);

}  // namespace yubin::import
