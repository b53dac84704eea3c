// A recording import view, a test clock, fixture lines and table dumps for the engine tests.
#pragma once

#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "import/ImportView.h"
#include "import/mdInport.h"
#include "settings/mdFileCreate.h"
#include "store/Engine.h"
#include "store/mdlYubinBox.h"
#include "support/TestSupport.h"

namespace yubin::test {

struct RecordedBox {
    std::string text;
    int style;
    std::string title;
};

class FakeImportView : public import::ImportView {
  public:
    std::array<std::string, 2> captions;
    std::array<std::uint64_t, 2> maximum{}, value{};
    std::vector<std::string> statusMessages;
    std::vector<std::string> captionHistory0, captionHistory1;
    std::vector<RecordedBox> boxes;
    std::string summary;
    bool summaryVisible = false;
    bool runEnabled = false;
    bool busy = false;
    int beeps = 0;
    long long events = 0;
    // Runs inside doEvents with the count of events so far (the abort tests use it).
    std::function<void(long long)> onEvent;
    // The run's progress, when set: the events of an engine's check of its file, before the
    // engine changes anything, are counted apart, so that `events` counts the import's lines.
    const mdInport::ImportProgress* progress = nullptr;
    long long checkEvents = 0;
    // Runs inside doEvents while the engine's file is being checked.
    std::function<void()> onCheckEvent;

    void setStatusMessage(const std::string& t) override { statusMessages.push_back(t); }
    void setProgressVisible(int, bool) override {}
    void setProgressRange(int i, std::uint64_t, std::uint64_t max) override {
        maximum[static_cast<size_t>(i)] = max;
    }
    void setProgressValue(int i, std::uint64_t v) override {
        EXPECT_LE(v, maximum[static_cast<size_t>(i)]);
        value[static_cast<size_t>(i)] = v;
    }
    void setCountVisible(int, bool) override {}
    void setCountBorderStyle(int, int) override {}
    void setCountCaption(int i, const std::string& c) override {
        captions[static_cast<size_t>(i)] = c;
        (i == 0 ? captionHistory0 : captionHistory1).push_back(c);
    }
    void setRunEnabled(bool e) override { runEnabled = e; }
    void setSummaryCaption(const std::string& c) override { summary = c; }
    void setSummaryVisible(bool v) override { summaryVisible = v; }
    void setBusyPointer(bool b) override { busy = b; }
    void beep() override { ++beeps; }
    int messageBox(const std::string& text, int style, const std::string& title) override {
        boxes.push_back({text, style, title});
        return import::msgbox::kAnswerOk;
    }
    void doEvents() override {
        if (progress != nullptr && progress->checking) {
            ++checkEvents;
            if (onCheckEvent) onCheckEvent();
            return;
        }
        ++events;
        if (onEvent) onEvent(events);
    }
};

// One national line in the published layout (text fields quoted).
inline std::string KenLine(const std::string& code, const std::string& oldCode,
                           const std::string& zip, const std::string& town,
                           const std::string& townKana, const std::string& f12 = "0",
                           const std::string& prefName = "北海道",
                           const std::string& cityName = "札幌市中央区",
                           const std::string& flags9to11 = "0,0,0",
                           const std::string& f13to14 = "0,0") {
    return code + ",\"" + oldCode + "\",\"" + zip + "\",\"ﾎｯｶｲﾄﾞｳ\",\"ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ\",\"" +
           townKana + "\",\"" + prefName + "\",\"" + cityName + "\",\"" + town + "\"," +
           flags9to11 + "," + f12 + "," + f13to14;
}

// One business-office line in the published layout.
inline std::string OfficeLine(const std::string& code, const std::string& name,
                              const std::string& zip, const std::string& city = "札幌市中央区") {
    return code + ",\"ｶﾌﾞｼｷｶﾞｲｼﾔ\",\"" + name + "\",\"北海道\",\"" + city +
           "\",\"北一条西\",\"６丁目１－２\",\"" + zip + "\",\"060  \",\"札幌中央\",0,0,0";
}

// Every row of a SELECT, each value as text ("<NULL>" for Null), read on a connection of
// its own.
inline std::vector<std::vector<std::string>> Rows(const std::string& database,
                                                  const std::string& select) {
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    db::Recordset rs;
    rs.open(select, connection, db::CursorType::ForwardOnly, db::LockType::ReadOnly);
    std::vector<std::vector<std::string>> rows;
    for (; !rs.eof(); rs.moveNext()) {
        std::vector<std::string> row;
        for (int i = 0; i < rs.fieldCount(); ++i) {
            const db::Value& v = rs.field(i).value();
            row.push_back(v.isNull() ? "<NULL>" : v.toText());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

inline long long Count(const std::string& database, const std::string& table,
                       const std::string& where = "") {
    auto rows = Rows(
        database, "SELECT COUNT(*) As N FROM " + table + (where.empty() ? "" : " WHERE " + where));
    return std::stoll(rows.at(0).at(0));
}

// A fresh database in a temporary home, the settings path set, the engines reporting to a
// recording view with a clock that only moves when the pause waits. The fixture plays the
// import session: it owns the run's progress and the resume threshold.
class ImportFixture : public ::testing::Test {
  protected:
    TempDir dir;
    FakeImportView view;
    double clock = 1000.0;
    std::string database;
    mdInport::ImportProgress progress;
    long lngResumeRecNo = 0;
    double pauseSeconds = 5.0;

    void SetUp() override {
        setenv("HOME", dir.path().c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        mdFileCreate::SetIniFilePath();
        database = dir.file("yubinbox.mdb");
        mdlYubinBox::strMdbFile = database;
        mdlYubinBox::CreateMdb();
    }
    void TearDown() override { mdlYubinBox::CloseMdb(); }

    mdInport::Environment environment() {
        mdInport::Environment env;
        view.progress = &progress;
        env.view = &view;
        env.pauseSeconds = pauseSeconds;
        env.monotonicSeconds = [this] { return clock; };
        env.idle = [this] { clock += 0.5; };
        return env;
    }
    // A fresh start: no engine has run, no resume.
    void resetState() {
        progress = {};
        lngResumeRecNo = 0;
    }
    // The abort as the window performs it: the marker written, then the run ends.
    void abortImport() {
        mdInport::SaveResumePoint(progress);
        throw YubinError(ErrorCode::ImportAborted, "aborted");
    }

    std::string writeKen(const std::vector<std::string>& lines,
                         const std::string& name = "ken_all.csv") {
        std::string path = dir.file(name);
        writeCp932Lines(path, lines);
        return path;
    }
    // A run as the window's 実行 starts it, with these files chosen. Every engine runs again
    // (as in a new window), and the engine left running by an aborted run counts as stopped.
    mdInport::RunReport run(const std::string& national, const std::string& office) {
        progress = {};
        mdInport::RunRequest request;
        const std::array<std::string, 2> files = {national, office};
        request.fileToImport = [files](int index) { return files[index == 0 ? 0 : 1]; };
        request.decidedFrom.resume.threshold = lngResumeRecNo;
        request.environment = environment();
        return mdInport::InportRun(request, progress);
    }
    // What the window's loading learns of the resume marker (it becomes the threshold).
    mdInport::ResumeState reopen() {
        mdlYubinBox::OpenMdb(database);
        mdInport::ResumeState state = mdInport::ReadResumePoint();
        mdlYubinBox::CloseMdb();
        lngResumeRecNo = state.threshold;
        view.captions = {};
        return state;
    }
};

}  // namespace yubin::test
