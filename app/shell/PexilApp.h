#pragma once

#include "app/shell/diagnosis/DiagnosisWindow.h"
#include "app/shell/geotag/GeotagWindow.h"
#include "app/shell/LaunchOptions.h"
#include "app/shell/diagnosis/LogWindow.h"
#include "app/shell/settings/SettingsWindow.h"
#include "kit/async/Clock.h"
#include "kit/async/Executor.h"
#include "kit/async/Runtime.h"
#include "kit/async/WorkQueue.h"

#include <QObject>
#include <QPointer>
#include <QTemporaryDir>

#include <memory>

namespace pexil {
class CameraTrouble;
class Log;
class ClientView;
class SessionModel;
namespace camera {
class VirtualCamera;
}
}  // namespace pexil

namespace pexil::shell {

class ClientViewWindow;
class MainWindow;

// The application: one session model for the life of the process, the main window with its
// menus, the single settings window, and the automatic connection when the main window first
// appears. Quitting sends nothing to the camera; everything is already on disk.
class PexilApp final : public QObject {
    Q_OBJECT
public:
    // Builds the model on the camera the options name; an error text when the camera address
    // cannot be used.
    static Result<std::unique_ptr<PexilApp>, QString> create(const LaunchOptions& options);
    ~PexilApp() override;
    Q_DISABLE_COPY_MOVE(PexilApp)

    // Shows the main window and, when the preference says so, connects.
    void show();
    void showSettings();

    SessionModel& model() const { return *model_; }
    MainWindow& window() const { return *window_; }
    SettingsWindow* settingsWindow() const { return settings_; }
    // The geotag window while it is open, else null.
    GeotagWindow* geotagWindow() const { return geotag_; }
    // Opens the geotag window, or brings the open one forward.
    void openGeotag();
    // The client view's window (the view stays as it is when the window closes).
    void openClientView();
    ClientViewWindow* clientViewWindow() const { return clientViewWindow_.get(); }
    // Opens the device doctor's report ("ヘルプ" → "診断"), or brings the open one forward.
    void showDiagnosis();
    // The About box's text: version, the libraries and their licences, where the log is.
    QString aboutText() const;

private:
    PexilApp();
    void openLog();
    void showAbout();

    QObject context_;
    async::QtExecutor executor_{&context_};
    async::SystemClock clock_;
    async::Runtime runtime_{executor_, clock_};
    std::unique_ptr<Log> log_;
    std::unique_ptr<QTemporaryDir> demoCard_;
    std::shared_ptr<camera::VirtualCamera> virtualCamera_;
    std::unique_ptr<SessionModel> model_;
    // On a USB address: why the camera would not open, for the main window.
    std::unique_ptr<CameraTrouble> trouble_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<ClientView> clientView_;
    std::unique_ptr<ClientViewWindow> clientViewWindow_;
    QPointer<SettingsWindow> settings_;
    QPointer<DiagnosisWindow> diagnosis_;
    QPointer<LogWindow> logWindow_;
    QPointer<GeotagWindow> geotag_;
    // Scans and writes of the geotag window; it outlives every window, so closing the window
    // never waits for ExifTool. Declared last: joined first, while the runtime still exists.
    std::unique_ptr<async::WorkQueue> geotagQueue_;
    bool shown_ = false;
};

}  // namespace pexil::shell
