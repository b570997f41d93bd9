#include "app/shell/PexilApp.h"

#include "app/base/Log.h"
#include "app/base/PreferencesModel.h"
#include "app/clientview/ClientView.h"
#include "app/connection/ConnectionModel.h"
#include "app/doctor/CameraTrouble.h"
#include "app/doctor/DeviceDoctor.h"
#include "app/session/SessionModel.h"
#include "app/shell/clientview/ClientViewWindow.h"
#include "app/shell/main/MainWindow.h"
#include "app/shell/settings/SettingsWindow.h"
#include "app/shots/ShotsModel.h"
#include "camera/sources/CameraSources.h"
#include "camera/usb/UsbCameraWatcher.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>
#include <QTimer>

namespace pexil::shell {

PexilApp::PexilApp() : log_(std::make_unique<Log>()) {
    runtime_.setReporter(log_->writer());
}

PexilApp::~PexilApp() {
    // The windows render the model: they go first.
    clientViewWindow_.reset();
    clientView_.reset();
    window_.reset();
    model_.reset();
}

Result<std::unique_ptr<PexilApp>, QString> PexilApp::create(const LaunchOptions& options) {
    const auto address = camera::CameraAddress::parse(options.camera);
    if (!address) return address.error();
    std::unique_ptr<PexilApp> app(new PexilApp());
    camera::VirtualCamera::Options virtualOptions;
    if (options.demo) {
        // The demo's card is private to the run, so trying Pexil leaves no card behind.
        app->demoCard_ = std::make_unique<QTemporaryDir>();
        if (!app->demoCard_->isValid()) return QStringLiteral("デモ用のカードを作れません: ") + app->demoCard_->errorString();
        virtualOptions.cardDir = app->demoCard_->path();
        virtualOptions.photos = LaunchOptions::demoPhotos;
    }
    virtualOptions.log = app->log_->writer();
    auto setup = camera::setUpCamera(app->runtime_, address.value(), virtualOptions, app->log_->writer());
    if (!setup) return setup.error();
    app->virtualCamera_ = setup.value().virtualCamera;

    SessionModel::Environment environment;
    environment.sources.push_back(std::move(setup.value().source));
    if (address.value().kind == camera::CameraAddress::Kind::usb)
        environment.usb = std::make_unique<camera::UsbCameraWatcher>(app->clock_, app->log_->writer());
    app->model_ = std::make_unique<SessionModel>(app->runtime_, *app->log_, std::move(environment));
    app->window_ = std::make_unique<MainWindow>(*app->model_);
    MainWindow* window = app->window_.get();
    PexilApp* self = app.get();
    connect(window, &MainWindow::settingsRequested, self, &PexilApp::showSettings);
    connect(window, &MainWindow::geotagRequested, self, &PexilApp::openGeotag);
    connect(window, &MainWindow::clientViewRequested, self, &PexilApp::openClientView);
    connect(window, &MainWindow::logRequested, self, &PexilApp::openLog);
    connect(window, &MainWindow::aboutRequested, self, &PexilApp::showAbout);
    connect(window, &MainWindow::diagnosisRequested, self, &PexilApp::showDiagnosis);
    if (address.value().kind == camera::CameraAddress::Kind::usb) {
        app->trouble_ = std::make_unique<CameraTrouble>();
        window->setCameraTrouble(app->trouble_.get());
    }
    return app;
}

void PexilApp::show() {
    window_->show();
    if (shown_) return;
    shown_ = true;
    // Once the window is on screen, so the first phases of the connection are seen.
    if (model_->preferences().autoConnect())
        QTimer::singleShot(0, &model_->connection(), &ConnectionModel::connectCamera);
}

void PexilApp::showSettings() {
    if (!settings_)
        settings_ = new SettingsWindow(model_->connection(), model_->destination(),
                                       model_->preferences(), model_->log(), window_.get());
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

void PexilApp::openClientView() {
    if (!clientView_) {
        clientView_ = std::make_unique<ClientView>(runtime_, model_->shots());
        clientView_->setLog(log_->writer());
        connect(clientView_.get(), &ClientView::noteChanged, &model_->shots(),
                &ShotsModel::setClientNote);
    }
    if (!clientViewWindow_)
        clientViewWindow_ = std::make_unique<ClientViewWindow>(*clientView_, window_.get());
    clientViewWindow_->show();
    clientViewWindow_->raise();
    clientViewWindow_->activateWindow();
}

void PexilApp::openGeotag() {
    if (!geotag_) {
        if (!geotagQueue_) geotagQueue_ = std::make_unique<async::WorkQueue>(QStringLiteral("geotag"), 2);
        GeoTagModel::Options options;
        options.workQueue = geotagQueue_.get();
        options.log = log_->writer();
        // A fresh window, and model, each time it is opened; it closes with the main window.
        geotag_ = new GeotagWindow(model_->geo(), runtime_, std::move(options), window_.get());
        geotag_->setAttribute(Qt::WA_DeleteOnClose);
    }
    geotag_->show();
    geotag_->raise();
    geotag_->activateWindow();
}

void PexilApp::openLog() {
    log_->flush();
    // The desktop's viewer for text files; without one, a window of our own that follows it.
    if (QFileInfo::exists(log_->path()) && QDesktopServices::openUrl(QUrl::fromLocalFile(log_->path()))) return;
    if (!logWindow_) logWindow_ = new LogWindow(log_->path(), window_.get());
    logWindow_->show();
    logWindow_->raise();
    logWindow_->activateWindow();
}

void PexilApp::showDiagnosis() {
    if (!diagnosis_)
        diagnosis_ = new DiagnosisWindow(
            [this] {
                auto environment = DeviceDoctor::defaults();
                const auto address = model_->link().networkAddress();
                if (model_->connection().state().is(ConnectionState::Kind::connected) && address)
                    environment.networkCamera =
                        model_->connection().state().text.value_or(QString()) +
                        QStringLiteral("（") + *address + QStringLiteral("）");
                return DeviceDoctor::examine(environment);
            },
            window_.get());
    diagnosis_->show();
    diagnosis_->raise();
    diagnosis_->activateWindow();
}

QString PexilApp::aboutText() const {
    const QString log = log_->path();
    return QStringLiteral(
               "<h3>Pexil %1</h3>"
               "<p>Nikon カメラのテザー撮影</p>"
               "<p>使っているライブラリとその使用許諾：<br>"
               "Qt %2（LGPL 3）、libusb（LGPL 2.1）、libudev（LGPL 2.1）、"
               "libjpeg-turbo（IJG / 修正 BSD）、Avahi（LGPL 2.1）、"
               "ExifTool（別プログラムとして実行。Perl と同じ Artistic / GPL）</p>"
               "<p>診断ログ：<a href=\"%3\">%4</a><br>"
               "コマンドの使い方：<code>man pexilctl</code></p>")
        .arg(QStringLiteral(PEXIL_VERSION), QString::fromLatin1(qVersion()),
             QUrl::fromLocalFile(log).toString().toHtmlEscaped(), log.toHtmlEscaped());
}

void PexilApp::showAbout() {
    QMessageBox box(window_.get());
    box.setWindowTitle(QStringLiteral("Pexil について"));
    box.setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    box.setTextFormat(Qt::RichText);
    box.setTextInteractionFlags(Qt::TextBrowserInteraction);
    box.setText(aboutText());
    box.exec();
}

}  // namespace pexil::shell
