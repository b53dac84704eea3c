#include "windows/frmyubinbox.h"

#include <algorithm>
#include <climits>
#include <utility>

#include <QButtonGroup>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include "base/VectorState.h"
#include "windows/ErrorGuard.h"
#include "windows/Fonts.h"
#include "windows/MessageBox.h"
#include "windows/Startup.h"
#include "windows/WindowCommon.h"
#include "windows/frmFilename.h"

namespace yubin::app {

namespace {

// The milliseconds of a clock started once (it starts at its first reading).
qint64 Now(QElapsedTimer& clock) {
    if (!clock.isValid()) clock.start();
    return clock.elapsed();
}

const QColor kLightCyan(192, 255, 255);

// The eight lines of Label3, each ended by CR LF.
const char* const kInstructions =
    "・郵便事業株式会社のサイトからダウンロードした郵便番号データをデータベースに\r\n"
    "　インポートします。\r\n"
    "・全国版郵便番号データと事業所個別郵便番号データのファイルを選択し、\r\n"
    "　「実行」ボタンをクリックして下さい。\r\n"
    "・既に登録されている事業所個別郵便番号データを入替えしない場合は、\r\n"
    "　事業所個別郵便番号データファイルを選択する必要はありません。\r\n"
    "・事業所個別郵便番号データを使用しない場合は、事業所個別郵便番号\r\n"
    "　データファイルを選択する必要はありません。\r\n";

// A label shows LF line ends; the system's texts carry CR LF.
QString Shown(const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

void Colour(QWidget& widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(role, colour);
    widget.setPalette(palette);
}

QLabel* NamedLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A rectangle with rounded corners: the instruction box and its shadow.
class RoundedShape : public QWidget {
  public:
    RoundedShape(const QString& name, QColor fill, QColor border, QWidget* parent)
        : QWidget(parent), fill_(fill), border_(border) {
        setObjectName(name);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(border_, 1));
        painter.setBrush(fill_);
        const double radius = std::min(width(), height()) / 8.0;
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    }

  private:
    QColor fill_;
    QColor border_;
};

}  // namespace

frmyubinbox::frmyubinbox(QWidget* parent) : WindowBase(kName, QStringLiteral("msg"), parent) {
    buildControls();
    session_ = std::make_unique<import::ImportSession>(*this);
    load();
}

// The session leaves the engines' view before the controls go.
frmyubinbox::~frmyubinbox() { session_.reset(); }

frmyubinbox* frmyubinbox::LoadedWindow() {
    return qobject_cast<frmyubinbox*>(WindowBase::Loaded(kName));
}

void frmyubinbox::buildControls() {
    image1_ = NamedLabel(QStringLiteral("Image1"), this);
    // The mark left of the instruction box, below the banner.
    placeBackground(*image1_, 120, 1830, 1140);
    buildBanner();
    buildInstructions();
    cmdCSVFILEGroup_ = new QButtonGroup(this);
    cmdCSVFILEGroup_->setObjectName(QStringLiteral("cmdCSVFILE"));
    cmdBTNGroup_ = new QButtonGroup(this);
    cmdBTNGroup_->setObjectName(QStringLiteral("cmdBTN"));
    for (int i = 0; i < 2; ++i) buildFileRow(i);
    buildSummaryAndButtons();

    setTabOrder(cmdCSVFILE_[0], txtCSVFILE_[0]);
    setTabOrder(txtCSVFILE_[0], cmdCSVFILE_[1]);
    setTabOrder(cmdCSVFILE_[1], txtCSVFILE_[1]);
    setTabOrder(txtCSVFILE_[1], cmdBTN_[0]);
    setTabOrder(cmdBTN_[0], cmdBTN_[1]);

    connect(cmdCSVFILEGroup_, &QButtonGroup::idClicked, this,
            [this](int index) { Guarded([this, index] { cmdCSVFILE_Click(index); }); });
    connect(cmdBTNGroup_, &QButtonGroup::idClicked, this,
            [this](int index) { Guarded([this, index] { cmdBTN_Click(index); }); });
    statusBar1().raise();
}

// The banner: Label5 black, Label1 blue 60 twips up and left of it, the title on top.
void frmyubinbox::buildBanner() {
    label5_ = NamedLabel(QStringLiteral("Label5"), this);
    PlaceTwips(*label5_, 420, 300, 8895, 780);
    label1_ = NamedLabel(QStringLiteral("Label1"), this);
    PlaceTwips(*label1_, 360, 240, 8895, 780);
    for (auto [label, colour] :
         {std::pair{label5_, QColor(Qt::black)}, std::pair{label1_, QColor(0, 0, 192)}}) {
        Colour(*label, QPalette::Window, colour);
        label->setAutoFillBackground(true);
    }
    label2_ = NamedLabel(QStringLiteral("Label2"), this);
    label2_->setText(kTitle);
    PlaceTwips(*label2_, 360, 330, 8895, 540);
    label2_->setFont(GothicFont(20.25, true));
    label2_->setAlignment(Qt::AlignCenter);
    Colour(*label2_, QPalette::WindowText, Qt::yellow);
    label2_->setAttribute(Qt::WA_TranslucentBackground);
}

// The instruction box with its shadow.
void frmyubinbox::buildInstructions() {
    shape2_ =
        new RoundedShape(QStringLiteral("Shape2"), QColor(96, 96, 96), QColor(96, 96, 96), this);
    PlaceTwips(*shape2_, 1440, 1560, 7065, 1995);
    shape1_ = new RoundedShape(QStringLiteral("Shape1"), kLightCyan, QColor(0, 0, 128), this);
    PlaceTwips(*shape1_, 1380, 1500, 7065, 1995);
    label3_ = NamedLabel(QStringLiteral("Label3"), this);
    label3_->setText(Shown(kInstructions));
    label3_->setFont(ProportionalGothicFont(8.25));
    label3_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    PlaceTwips(*label3_, 1500, 1620, 6825, 1755);
    Colour(*label3_, QPalette::Window, kLightCyan);
    label3_->setAutoFillBackground(true);
}

// One data file's row: its browse button, date, progress bar, count label and file box.
void frmyubinbox::buildFileRow(int i) {
    constexpr std::array<int, 2> browseTops = {3720, 4800};
    constexpr std::array<int, 2> boxTops = {4260, 5340};
    const QString caption = QString::fromUtf8(import::ImportSession::kBrowsePrefix) +
                            QString::fromUtf8(import::ImportSession::kDataNames[At(i)]);
    QPushButton* browse = ControlArrayButton(*cmdCSVFILEGroup_, i, caption, this);
    browse->setFont(GothicFont(10.5, true));
    PlaceTwips(*browse, 180, browseTops[At(i)], 3915, 495);
    cmdCSVFILE_[At(i)] = browse;

    auto* date = NamedLabel(QStringLiteral("lblCSVDATE_%1").arg(i), this);
    date->setFont(GothicFont(9, true));
    date->setAlignment(Qt::AlignCenter);
    PlaceTwips(*date, 4200, browseTops[At(i)], 1560, 495);
    lblCSVDATE_[At(i)] = date;

    auto* bar = new QProgressBar(this);
    bar->setObjectName(i == 0 ? QStringLiteral("ProgressBar1") : QStringLiteral("ProgressBar2"));
    bar->setTextVisible(false);
    PlaceTwips(*bar, 5820, browseTops[At(i)], 3615, 495);
    progressBar_[At(i)] = bar;

    auto* count = NamedLabel(i == 0 ? QStringLiteral("MCOUNT") : QStringLiteral("JCOUNT"), this);
    count->setFont(GothicFont(9.75, true));
    count->setAlignment(Qt::AlignCenter);
    Colour(*count, QPalette::Window, Qt::white);
    count->setAutoFillBackground(true);
    count_[At(i)] = count;

    auto* box = new QLineEdit(QStringLiteral("Text1"), this);
    box->setObjectName(QStringLiteral("txtCSVFILE_%1").arg(i));
    box->setFont(GothicFont(10.5));
    box->setReadOnly(true);  // the path comes from the chooser, with its date
    PlaceTwips(*box, 300, boxTops[At(i)], 9135, 555);
    txtCSVFILE_[At(i)] = box;
}

void frmyubinbox::buildSummaryAndButtons() {
    lblSAKUSEIBI_ = NamedLabel(QStringLiteral("lblSAKUSEIBI"), this);
    lblSAKUSEIBI_->setText(QStringLiteral("Label4"));
    lblSAKUSEIBI_->setFont(GothicFont(9.75, true));
    lblSAKUSEIBI_->setToolTip(QStringLiteral("日本郵政公社がCSVファイルを作成した日です。"));
    lblSAKUSEIBI_->move(Px(240), Px(5940));
    lblSAKUSEIBI_->adjustSize();

    struct Design {
        int left, top, width, height;
        const char* caption;
    };
    constexpr std::array<Design, 2> buttons = {
        {{6900, 6060, 1095, 675, "実行(&G)"}, {8280, 6120, 1095, 615, "終了(&X)"}}};
    for (int i = 0; i < 2; ++i) {
        const Design& design = buttons[At(i)];
        QPushButton* button =
            ControlArrayButton(*cmdBTNGroup_, i, QString::fromUtf8(design.caption), this);
        button->setFont(GothicFont(10.5, true));
        PlaceTwips(*button, design.left, design.top, design.width, design.height);
        cmdBTN_[At(i)] = button;
    }
}

void frmyubinbox::load() {
    setCaption(kTitle);
    statusBar1().panel(QStringLiteral("msg")).setText(QString());
    // The progress display beside each browse button: bar above, count below, each half the
    // button's height; the second row takes the first row's columns.
    for (int i = 0; i < 2; ++i) {
        const QRect button = cmdCSVFILE_[i]->geometry();
        const int half = button.height() / 2;
        const QRect bar = progressBar_[0]->geometry();
        progressBar_[i]->setGeometry(bar.left(), button.top(), bar.width(), half);
        count_[i]->setGeometry(bar.left(), button.top() + half, bar.width(), half);
        const QRect date = lblCSVDATE_[0]->geometry();
        lblCSVDATE_[i]->setGeometry(date.left(), button.top() + half, date.width(), half);
    }
    for (int i = 0; i < 2; ++i) {
        txtCSVFILE_[i]->clear();
        progressBar_[i]->hide();
        count_[i]->hide();
        lblCSVDATE_[i]->hide();
    }
    lblSAKUSEIBI_->hide();
    session_->load();
}

// ---- Handlers -------------------------------------------------------------------------------

void frmyubinbox::cmdCSVFILE_Click(int index) {
    // The exit under way may wait for another program, with the window's events running: no
    // chooser opens then.
    if (session_->exiting()) return;
    const import::BrowseRequest request = session_->browse(index);
    session_->browseResult(index, frmFilename::ChooseDataFile(*this, request));
}

void frmyubinbox::cmdBTN_Click(int index) {
    if (index == 1) {
        if (exitSession(import::ExitReason::User)) unload();
        return;
    }
    // A run in progress shows the busy pointer: a second 実行 is ignored.
    if (!IsDefaultPointer() || session_->running()) return;
    QPointer<frmyubinbox> self(this);
    const import::RunOutcome outcome = session_->run();
    if (!self) return;
    lastRun_ = outcome;
    showProgress();
    if (outcome.endedAfterWait) {
        // 終了 or the close box during a wait for another program: carried out by the run.
        ended_ = true;
        unload();
        return;
    }
    if (!isLoaded()) {
        // Unloaded inside the run (a test's end hook returned): deleted now that the engine
        // is off the stack.
        deleteLater();
        return;
    }
    if (outcome.result == import::RunResult::Failed) {
        // The window stays usable: the error is shown, no marker is written, the rows stay.
        tell(ErrorReportText(*outcome.error).toStdString(), MsgStyle::Critical);
    }
}

bool frmyubinbox::exitSession(import::ExitReason reason) {
    const import::ExitOutcome outcome = session_->exit(reason);
    if (outcome.result != import::ExitResult::Ended) return false;
    ended_ = true;
    // Unloaded inside an engine's event processing: the window must outlive the engine's
    // frame, which a test's end hook lets return.
    if (session_->running()) setAttribute(Qt::WA_DeleteOnClose, false);
    return true;
}

bool frmyubinbox::queryUnload(UnloadMode mode) {
    if (mode == UnloadMode::Code) return true;  // its own unloading after 終了
    return exitSession(mode == UnloadMode::SessionEnd ? import::ExitReason::SessionEnd
                                                      : import::ExitReason::User);
}

void frmyubinbox::unloadWindow() {
    DeleteCheckFile();
    EndProgram(0);
}

// ---- The engines' view ----------------------------------------------------------------------

void frmyubinbox::setStatusMessage(const std::string& text) {
    showProgress();
    eventsDue_ = true;
    statusBar1().panel(QStringLiteral("msg")).setText(QString::fromStdString(text));
    // Also told while the database waits for another program, when no events run: painted now.
    statusBar1().repaint();
    ClearUpperVectorState();  // the engine's code follows
}

void frmyubinbox::setProgressVisible(int index, bool visible) {
    showProgress();
    eventsDue_ = true;
    progressBar_[At(index)]->setVisible(visible);
}

void frmyubinbox::setProgressRange(int index, std::uint64_t minimum, std::uint64_t maximum) {
    // The bar counts in int: a longer file is shown in coarser steps.
    int shift = 0;
    while ((maximum >> shift) > static_cast<std::uint64_t>(INT_MAX)) ++shift;
    showProgress();
    frameShownAt_ = -1;  // the engine's first line shows at once
    progressShift_[At(index)] = shift;
    progressBar_[At(index)]->setRange(static_cast<int>(minimum >> shift),
                                      static_cast<int>(maximum >> shift));
}

void frmyubinbox::setProgressValue(int index, std::uint64_t value) {
    progressValue_[At(index)] = value;
    progressPending_ = true;
}

void frmyubinbox::setCountVisible(int index, bool visible) {
    showProgress();
    eventsDue_ = true;
    count_[At(index)]->setVisible(visible);
}

void frmyubinbox::setCountBorderStyle(int index, int borderStyle) {
    showProgress();
    eventsDue_ = true;
    count_[At(index)]->setFrameStyle(borderStyle == 1 ? (QFrame::Box | QFrame::Plain)
                                                      : QFrame::NoFrame);
}

void frmyubinbox::setCountCaption(int index, const std::string& caption) {
    countCaption_[At(index)] = caption;
    progressPending_ = true;
    if (!session_ || !session_->running()) showProgress();
}

void frmyubinbox::importFinished(int) {
    showProgress();
    eventsDue_ = true;
}

void frmyubinbox::setRunEnabled(bool enabled) { cmdBTN_[0]->setEnabled(enabled); }

void frmyubinbox::setSummaryCaption(const std::string& caption) {
    lblSAKUSEIBI_->setText(Shown(caption));
    lblSAKUSEIBI_->adjustSize();
}

void frmyubinbox::setSummaryVisible(bool visible) { lblSAKUSEIBI_->setVisible(visible); }

void frmyubinbox::setBusyPointer(bool busy) {
    if (busy) {
        SetBusyPointer();
    } else {
        SetDefaultPointer();
    }
}

void frmyubinbox::beep() { Beep(); }

int frmyubinbox::messageBox(const std::string& text, int style, const std::string& title) {
    showProgress();
    const QString shownTitle = title.empty() ? ProgramName() : QString::fromStdString(title);
    switch (MsgBox(QString::fromStdString(text), style, shownTitle)) {
        case Answer::Yes:
            return import::msgbox::kAnswerYes;
        case Answer::No:
            return import::msgbox::kAnswerNo;
        default:
            return import::msgbox::kAnswerOk;
    }
}

// After every line: pending events run when a few milliseconds have passed since they last ran
// or the display must be current (a click on 終了 or a browse button is handled here), and once
// a frame the bars and count labels are brought to the latest line's progress. They are never
// more than a frame behind, and the window is not repainted per line. Asking the clock costs
// tens of nanoseconds; processing events costs about a microsecond even when none is pending.
void frmyubinbox::doEvents() {
    const qint64 now = Now(clock_);
    if (progressPending_ && (frameShownAt_ < 0 || now - frameShownAt_ >= kFrameMilliseconds)) {
        showProgress();
        eventsDue_ = true;
    }
    if (eventsDue_ || eventsRunAt_ < 0 || now - eventsRunAt_ >= eventInterval_) {
        eventsDue_ = false;
        DoEvents();
        eventsRunAt_ = Now(clock_);
    }
    if (ended_ || session_->engineMustStop()) {
        // The exit has run inside (or runs once the statement that waited has returned), or
        // the run stops before its engine changes anything: the engine must not go on.
        throw YubinError(ErrorCode::ImportAborted,
                         "取り込みを中止しました。次回の処理は途中から取り込みとなります。");
    }
}

int frmyubinbox::SetEventInterval(int milliseconds) {
    return std::exchange(eventInterval_, milliseconds);
}

void frmyubinbox::showProgress() {
    if (!progressPending_) return;
    progressPending_ = false;
    frameShownAt_ = Now(clock_);
    for (size_t i = 0; i < 2; ++i) {
        if (shownCountCaption_[i] != countCaption_[i]) {
            shownCountCaption_[i] = countCaption_[i];
            count_[i]->setText(QString::fromStdString(countCaption_[i]));
        }
        const int value = static_cast<int>(progressValue_[i] >> progressShift_[i]);
        QProgressBar& bar = *progressBar_[i];
        bar.setValue(std::clamp(value, bar.minimum(), bar.maximum()));
    }
}

void frmyubinbox::setBrowseEnabled(int index, bool enabled) {
    cmdCSVFILE_[At(index)]->setEnabled(enabled);
}

void frmyubinbox::showChosenFile(int index, const std::string& path, const std::string& date) {
    txtCSVFILE_[At(index)]->setText(QString::fromStdString(path));
    lblCSVDATE_[At(index)]->setText(QString::fromStdString(date));
    lblCSVDATE_[At(index)]->show();
}

void frmyubinbox::setRunToolTip(const std::string& text) {
    cmdBTN_[0]->setToolTip(QString::fromStdString(text));
}

void frmyubinbox::setExitToolTip(const std::string& text) {
    cmdBTN_[1]->setToolTip(QString::fromStdString(text));
}

bool frmyubinbox::ask(import::Question, const std::string& text, int style) {
    showProgress();
    return MsgBox(QString::fromStdString(text), style, windowTitle()) == Answer::Yes;
}

void frmyubinbox::tell(const std::string& text, int style) {
    showProgress();
    MsgBox(QString::fromStdString(text), style, windowTitle());
}

void frmyubinbox::showPending() {
    showProgress();
    DoEvents();
}

}  // namespace yubin::app
