#pragma once

#include <QMainWindow>
#include <QPointer>

#include <optional>

class QAction;
class QMessageBox;
class QShortcut;
class QSplitter;
class QStackedWidget;

namespace pexil {
class CameraTrouble;
class SessionModel;
namespace ui {
class GlassButton;
}
}  // namespace pexil

namespace pexil::shell {

class CameraMenu;
class CardActionBar;
class CardBrowser;
class CardInfoRow;
class CameraStatusMenu;
class CameraWaitView;
class Filmstrip;
class InfoRow;
class Inspector;
class PreviewPane;
class PreviewZoom;
class WarmupOverlay;
class BackupStrip;
class WarningStrip;

// The tethering workspace: toolbar with the camera status, live view, autofocus and the
// inspector toggle; the warning strip; the preview (or the warm-up and waiting views) with its
// information row and the filmstrip; the inspector at the right; the menus. It renders the
// session model and calls its operations; the only state of its own is the zoom and whether
// the inspector is shown.
class CameraActions;
class LiveViewActions;
class SeriesActions;
class DesktopNotifier;

class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr QSize minimumContent{940, 640};
    static constexpr QSize defaultSize{1240, 820};

    explicit MainWindow(SessionModel& model, QWidget* parent = nullptr);
    ~MainWindow() override;
    Q_DISABLE_COPY_MOVE(MainWindow)

    // What the centre shows.
    enum class Centre { preview, waiting, warmup };
    Centre centre() const;
    DesktopNotifier* notifier() const { return notifier_; }
    // Whether the card source (browser, information row, action bar) is shown instead of the
    // preview, its information row and the filmstrip.
    bool showsCard() const;

    // The shell's own failures go to the same alert as the session's.
    void reportError(const QString& text);
    // The alert while one is open, else null.
    QMessageBox* alert() const;
    QString alertText() const;

    CameraMenu* cameraMenu() const { return cameraMenu_; }
    CameraStatusMenu* statusMenu() const { return status_; }
    PreviewZoom& zoom() const { return *zoom_; }
    PreviewPane* preview() const { return preview_; }
    InfoRow* infoRow() const { return info_; }
    Filmstrip* filmstrip() const { return filmstrip_; }
    CardBrowser* cardBrowser() const { return cardBrowser_; }
    CardInfoRow* cardInfoRow() const { return cardInfo_; }
    CardActionBar* cardActionBar() const { return cardBar_; }
    Inspector* inspector() const { return inspector_; }
    WarningStrip* warningStrip() const { return warning_; }
    BackupStrip* backupStrip() const { return backupWarning_; }
    WarmupOverlay* warmupOverlay() const { return warmupView_; }
    CameraWaitView* waitView() const { return waitView_; }
    ui::GlassButton* liveViewButton() const { return liveButton_; }
    ui::GlassButton* autofocusButton() const { return afButton_; }
    QAction* inspectorToggle() const { return inspectorToggle_; }
    SeriesActions* seriesActions() const { return series_; }
    QShortcut* spaceShutter() const { return space_; }
    // Whether Space may fire the shutter now.
    bool spaceEnabled() const;
    // The device doctor's view of a USB camera that would not open, for the waiting view and
    // the camera menu; null (the default): none. Not owned; the window keeps it up to date
    // with the session's state.
    void setCameraTrouble(CameraTrouble* trouble);

signals:
    void settingsRequested();
    void geotagRequested();
    void clientViewRequested();
    void logRequested();
    void diagnosisRequested();
    void aboutRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildToolbar();
    void buildMenus();
    void updateState();
    void updateCentre();
    void updateSource();
    void updateLiveButton();
    void updateAFButton();
    void updateAlert();
    // Once per loss: a desktop notification when the window is not the active one.
    void tellLoss();

    SessionModel& model_;
    CameraActions* actions_;
    LiveViewActions* liveActions_ = nullptr;
    SeriesActions* series_ = nullptr;
    PreviewZoom* zoom_;
    CameraStatusMenu* status_ = nullptr;
    ui::GlassButton* liveButton_ = nullptr;
    ui::GlassButton* afButton_ = nullptr;
    QAction* inspectorToggle_ = nullptr;
    QAction* cardAction_ = nullptr;
    CameraMenu* cameraMenu_ = nullptr;
    WarningStrip* warning_;
    BackupStrip* backupWarning_;
    QStackedWidget* centreStack_;
    PreviewPane* preview_;
    CameraWaitView* waitView_;
    WarmupOverlay* warmupView_;
    InfoRow* info_;
    Filmstrip* filmstrip_;
    QStackedWidget* sourceStack_;
    QWidget* tetherPage_;
    QWidget* cardPage_;
    CardBrowser* cardBrowser_;
    CardInfoRow* cardInfo_;
    CardActionBar* cardBar_;
    Inspector* inspector_;
    QSplitter* splitter_;
    QShortcut* space_;
    DesktopNotifier* notifier_;
    bool lossSaid_ = false;  // the current loss was told, in the window and outside it
    QMessageBox* alert_ = nullptr;
    QPointer<CameraTrouble> trouble_;
};

}  // namespace pexil::shell
