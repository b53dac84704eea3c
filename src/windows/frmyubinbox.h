// frmyubinbox, the import window: the administrator chooses ken_all.csv and jigyosyo.csv,
// runs the import with live progress, aborts it, and closes with compaction.
//
// The window maps the import session (ImportSession, no toolkit) onto its controls: the
// session decides, the window shows and asks. It is also the engines' view (ImportView).
#pragma once

#include <array>
#include <memory>

#include <QElapsedTimer>

#include "import/ImportSession.h"
#include "windows/WindowBase.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace yubin::app {

class frmyubinbox : public WindowBase, public yubin::import::SessionView {
    Q_OBJECT
  public:
    static inline const QString kName = QStringLiteral("frmyubinbox");
    static inline const QString kTitle = QStringLiteral("郵便番号データ取込");
    // The progress display is brought up to date once per frame of this length.
    static constexpr int kFrameMilliseconds = 40;
    // During a run, pending events run after a line when this long has passed since they last
    // ran (a click waits at most about this long), and at once when the display must be
    // current (a status text, a control shown or hidden, a result).
    static constexpr int kEventMilliseconds = 4;
    // The interval in use (kEventMilliseconds); a test that acts at a given line sets 0, so
    // that events run after every line. Returns the interval it replaces.
    static int SetEventInterval(int milliseconds);

    // Loads the window (strMdbFile must name the database); errors of loading pass to the
    // caller.
    explicit frmyubinbox(QWidget* parent = nullptr);
    ~frmyubinbox() override;

    // The loaded import window, or nullptr.
    static frmyubinbox* LoadedWindow();

    // Controls, by their names (index 0 national data, 1 business-office data).
    QLabel& Image1() const { return *image1_; }
    QLabel& Label1() const { return *label1_; }
    QLabel& Label2() const { return *label2_; }
    QLabel& Label3() const { return *label3_; }
    QLabel& Label5() const { return *label5_; }
    QWidget& Shape1() const { return *shape1_; }
    QWidget& Shape2() const { return *shape2_; }
    QPushButton& cmdCSVFILE(int index) const { return *cmdCSVFILE_.at(At(index)); }
    QLineEdit& txtCSVFILE(int index) const { return *txtCSVFILE_.at(At(index)); }
    QLabel& lblCSVDATE(int index) const { return *lblCSVDATE_.at(At(index)); }
    QProgressBar& ProgressBar1() const { return *progressBar_[0]; }
    QProgressBar& ProgressBar2() const { return *progressBar_[1]; }
    QLabel& MCOUNT() const { return *count_[0]; }
    QLabel& JCOUNT() const { return *count_[1]; }
    QLabel& lblSAKUSEIBI() const { return *lblSAKUSEIBI_; }
    QPushButton& cmdBTN(int index) const { return *cmdBTN_.at(At(index)); }
    QButtonGroup& cmdCSVFILEGroup() const { return *cmdCSVFILEGroup_; }
    QButtonGroup& cmdBTNGroup() const { return *cmdBTNGroup_; }

    yubin::import::ImportSession& session() const { return *session_; }
    // What the last 実行 came to.
    const yubin::import::RunOutcome& lastRun() const { return lastRun_; }

    // ---- ImportView / SessionView -------------------------------------------------------------
    void setStatusMessage(const std::string& text) override;
    void setProgressVisible(int index, bool visible) override;
    void setProgressRange(int index, std::uint64_t minimum, std::uint64_t maximum) override;
    void setProgressValue(int index, std::uint64_t value) override;
    void setCountVisible(int index, bool visible) override;
    void setCountBorderStyle(int index, int borderStyle) override;
    void setCountCaption(int index, const std::string& caption) override;
    void importFinished(int index) override;
    void setRunEnabled(bool enabled) override;
    void setSummaryCaption(const std::string& caption) override;
    void setSummaryVisible(bool visible) override;
    void setBusyPointer(bool busy) override;
    void beep() override;
    int messageBox(const std::string& text, int style, const std::string& title) override;
    void doEvents() override;
    void setBrowseEnabled(int index, bool enabled) override;
    void showChosenFile(int index, const std::string& path, const std::string& date) override;
    void setRunToolTip(const std::string& text) override;
    void setExitToolTip(const std::string& text) override;
    bool ask(yubin::import::Question question, const std::string& text, int style) override;
    void tell(const std::string& text, int style) override;
    void showPending() override;

  protected:
    bool queryUnload(UnloadMode mode) override;
    void unloadWindow() override;

  private:
    static size_t At(int index) { return index == 0 ? 0 : 1; }
    void buildControls();
    void buildBanner();
    void buildInstructions();
    void buildFileRow(int index);
    void buildSummaryAndButtons();
    void load();
    void cmdCSVFILE_Click(int index);
    void cmdBTN_Click(int index);
    // 終了's steps up to the unloading; false when the window stays.
    bool exitSession(yubin::import::ExitReason reason);
    // Hands the latest line's progress to the bars and count labels.
    void showProgress();

    QLabel* image1_ = nullptr;
    QLabel* label5_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QWidget* shape2_ = nullptr;
    QWidget* shape1_ = nullptr;
    QLabel* label3_ = nullptr;
    std::array<QPushButton*, 2> cmdCSVFILE_{};
    std::array<QLineEdit*, 2> txtCSVFILE_{};
    std::array<QLabel*, 2> lblCSVDATE_{};
    std::array<QProgressBar*, 2> progressBar_{};
    std::array<QLabel*, 2> count_{};
    std::array<int, 2> progressShift_{};  // a file longer than the bar's range is scaled
    QLabel* lblSAKUSEIBI_ = nullptr;
    std::array<QPushButton*, 2> cmdBTN_{};
    QButtonGroup* cmdCSVFILEGroup_ = nullptr;
    QButtonGroup* cmdBTNGroup_ = nullptr;

    std::unique_ptr<yubin::import::ImportSession> session_;
    yubin::import::RunOutcome lastRun_;

    // The progress of the latest line: the count captions and bar values as the engines set
    // them, handed to the widgets once a frame (and before anything else changes).
    std::array<std::string, 2> countCaption_;
    std::array<std::string, 2> shownCountCaption_;  // what the count labels were last given
    std::array<std::uint64_t, 2> progressValue_{};
    bool progressPending_ = false;
    // One clock read once a line serves both: when the bars were last shown and when events
    // last ran, in its milliseconds (-1: not yet).
    QElapsedTimer clock_;
    qint64 frameShownAt_ = -1;
    qint64 eventsRunAt_ = -1;
    static inline int eventInterval_ = kEventMilliseconds;
    bool eventsDue_ = true;
    // The exit has run: the program ends (a test's end hook returns, and the engine must
    // still never continue).
    bool ended_ = false;
};

}  // namespace yubin::app
