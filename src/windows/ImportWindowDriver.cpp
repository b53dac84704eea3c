#include "windows/ImportWindowDriver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"
#include "windows/ErrorGuard.h"
#include "windows/Fonts.h"
#include "windows/MessageBox.h"
#include "windows/SessionEnd.h"
#include "windows/Startup.h"
#include "windows/WindowBase.h"
#include "windows/frmFilename.h"
#include "windows/frmyubinbox.h"

namespace yubin::app {

namespace {

struct DriverOptions {
    std::string database;
    std::array<std::string, 2> files;
    double pauseSeconds = 0;
    std::string screenshots;
    bool eventDelays = false;
};

// Measures how long an event waits before the window handles it during a run: another thread
// posts one event at a time (the next when the last was handled, a few milliseconds later),
// stamped with the time it was posted, as a click would arrive from the display.
class EventDelayProbe : public QObject {
  public:
    struct Report {
        double longestInEngines = 0;  // handled while an engine ran (events run per line)
        double longest = 0;           // the whole run: keys, index and the steps between too
        long events = 0;
    };
    explicit EventDelayProbe(const frmyubinbox& window) : window_(window) {
        poster_ = std::thread([this] {
            while (!stop_) {
                if (!inFlight_.exchange(true)) {
                    QCoreApplication::postEvent(this, new Stamped(Clock::now()));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
        });
    }
    ~EventDelayProbe() override { stop(); }
    Report stop() {
        stop_ = true;
        if (poster_.joinable()) poster_.join();
        return report_;
    }

  protected:
    bool event(QEvent* e) override {
        if (e->type() != Stamped::kType) return QObject::event(e);
        const double ms = std::chrono::duration<double, std::milli>(
                              Clock::now() - static_cast<Stamped*>(e)->posted)
                              .count();
        report_.longest = std::max(report_.longest, ms);
        if (window_.session().state().progress.intInportMode != 0) {
            report_.longestInEngines = std::max(report_.longestInEngines, ms);
        }
        ++report_.events;
        inFlight_ = false;
        return true;
    }

  private:
    using Clock = std::chrono::steady_clock;
    struct Stamped : QEvent {
        static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 17);
        explicit Stamped(Clock::time_point at) : QEvent(kType), posted(at) {}
        Clock::time_point posted;
    };
    const frmyubinbox& window_;
    std::thread poster_;
    std::atomic<bool> stop_ = false;
    std::atomic<bool> inFlight_ = false;
    Report report_;
};

bool Parse(int argc, char** argv, DriverOptions& options) {
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (name == "--db") {
            options.database = value;
        } else if (name == "--ken-all") {
            options.files[0] = value;
        } else if (name == "--jigyosyo") {
            options.files[1] = value;
        } else if (name == "--pause") {
            options.pauseSeconds = std::stod(value);
        } else if (name == "--screenshots") {
            options.screenshots = value;
        } else if (name == "--event-delays") {
            options.eventDelays = value == "1";
        } else {
            return false;
        }
    }
    return !options.database.empty();
}

std::string Absolute(const std::string& path) {
    return path.empty() ? path : std::filesystem::absolute(path).lexically_normal().string();
}

// The window as the X server shows it (its own rendering where the platform cannot grab).
void Shoot(QWidget& window, const std::string& folder, const char* name) {
    if (folder.empty()) return;
    QPixmap picture = window.screen()->grabWindow(window.winId());
    if (picture.isNull()) picture = window.grab();
    picture.save(QString::fromStdString(folder + "/" + name + ".png"));
}

// Chooses the files as the chooser would, runs, reports and ends through 終了 (which ends the
// program); without files only opens and closes the window.
void DriveWindow(frmyubinbox* window, const DriverOptions& options, std::string& chosen) {
    Shoot(*window, options.screenshots, "import-1-opened");
    for (int i = 0; i < 2; ++i) {
        if (options.files[i].empty()) continue;
        chosen = Absolute(options.files[i]);
        window->cmdCSVFILE(i).click();
    }
    QApplication::processEvents();
    Shoot(*window, options.screenshots, "import-2-files-chosen");
    auto* running = new QTimer(window);
    if (!options.screenshots.empty()) {
        QObject::connect(running, &QTimer::timeout, window, [&, window, running] {
            const QProgressBar& bar = window->ProgressBar1();
            if (bar.isVisible() && bar.value() > bar.maximum() / 3) {
                running->stop();
                Shoot(*window, options.screenshots, "import-3-running");
            }
        });
        running->start(50);
    }
    // Without files the window is only opened and closed (its fixed cost).
    if (options.files[0].empty() && options.files[1].empty()) {
        window->cmdBTN(1).click();
        return;
    }
    std::optional<EventDelayProbe> probe;
    if (options.eventDelays) probe.emplace(*window);
    window->cmdBTN(0).click();
    if (probe) {
        const EventDelayProbe::Report report = probe->stop();
        std::cerr << "event delays: " << report.events << " events, longest "
                  << report.longestInEngines << " ms while an engine ran, " << report.longest
                  << " ms in the whole run" << std::endl;
    }
    QApplication::processEvents();
    Shoot(*window, options.screenshots, "import-4-after-run");
    if (window->lastRun().result != import::RunResult::Finished) {
        DeleteCheckFile();
        EndProgram(1);
    }
    window->cmdBTN(1).click();
}

}  // namespace

int RunImportWindow(int argc, char** argv) {
    DriverOptions options;
    try {
        if (!Parse(argc, argv, options)) throw std::invalid_argument("arguments");
    } catch (const std::exception&) {
        std::cerr << "usage: yubinbox import-window --db FILE [--ken-all FILE] [--jigyosyo FILE]"
                     " [--pause SECONDS] [--screenshots FOLDER] [--event-delays 1]"
                  << std::endl;
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    InstallFontSubstitutions();
    // One instance of the windows at a time, as at the program's start.
    if (QFileInfo::exists(CheckFilePath())) {
        std::cerr << kTwiceStartedMessage.toStdString() << std::endl;
        return 3;
    }
    std::ofstream(std::filesystem::path(CheckFilePath().toStdU16String()));
    const SessionEndWatcher sessionEnd;
    // Nobody answers: a question gets its default answer (No to replacing newer data).
    MessageBoxResponder boxes;
    // The boxes asked are reported when the program ends.
    SetEndProgramHook([&boxes](int exitCode) {
        for (const AskedMessage& box : boxes.asked()) {
            std::cerr << box.text.toStdString() << std::endl;
        }
        std::fflush(nullptr);
        std::exit(exitCode);
    });
    mdlYubinBox::strMdbFile = Absolute(options.database);
    mdFileCreate::SetIniFilePath();
    std::string chosen;
    frmFilename::SetModalHook([&chosen](frmFilename& chooser) {
        chooser.AcceptDataFile(chosen);
        if (chooser.isLoaded()) chooser.unload();  // a file it could not read: told, cancelled
    });

    Guarded([&] {
        auto* window = new frmyubinbox;
        window->show();
        window->session().environment().pauseSeconds = options.pauseSeconds;
        // Once the window shows: choose, run, exit (which ends the program).
        QTimer::singleShot(options.screenshots.empty() ? 0 : 500, window, [&, window] {
            Guarded([&, window] { DriveWindow(window, options, chosen); });
        });
    });
    return WindowBase::RunEventLoop();
}

}  // namespace yubin::app
