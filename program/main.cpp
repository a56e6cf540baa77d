// The program's entry: the one place that builds and shows everything, in
// the order a user sees it, and takes it down again in reverse at quit.
#include "app/AppState.h"
#include "platform/core/Log.h"
#include "platform/core/Resources.h"
#include "platform/core/SettingsStore.h"
#include "program/AppDelegate.h"
#include "program/PlatformChoice.h"
#include "program/ProgramViews.h"
#include "program/QuitSignals.h"
#include "program/SingleInstance.h"
#include "program/Translations.h"
#include "ui/tray/CheckForUpdates.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>

#include <optional>

using namespace pondra;

namespace {

/// Another copy holds the lock: say so, and end once the user has read it.
int runAsSecondCopy(QApplication& app, SingleInstanceGuard::Turn turn)
{
    logError(lcApp, "Another instance of Pondra is already running. Quitting.");
    const std::unique_ptr<QMessageBox> alert = makeSecondCopyAlert(turn);
    QObject::connect(alert.get(), &QMessageBox::finished, &app, &QCoreApplication::quit);
    alert->show();
    app.exec();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Pondra"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PONDRA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.pondra.Pondra"));
    std::optional<PlatformChoice> platform(std::in_place);
    QApplication app(argc, argv);
    platform.reset();
    // Title bars and task bars show the icon the desktop entry names.
    QApplication::setWindowIcon(QIcon(applicationIconPath()));
    const Translations translations(QLocale::system().uiLanguages());
    // The program lives in the tray and the team window: closing the main window does not end it.
    app.setQuitOnLastWindowClosed(false);
    QuitSignals quitSignals;

    SingleInstanceGuard guard(SettingsStore::defaultFilePath());
    if (!guard.claim()) {
        const std::optional<SingleInstanceGuard::Turn> turn = guard.waitForTurnHere();
        if (!turn)
            return 0;
        if (*turn != SingleInstanceGuard::Turn::ours)
            return runAsSecondCopy(app, *turn);
    }

    std::unique_ptr<CheckForUpdatesViewModel> updater = makeUpdater();
    auto state = std::make_unique<AppState>();
    std::unique_ptr<QWidget> mainWindow = makeMainWindow(*state, *updater);
    mainWindow->show();
    std::unique_ptr<QObject> tray = makeTray(*state);

    // The delegate is never destroyed: it lives as long as the process.
    AppDelegate::Options options;
    options.overlays = PlatformChoice::overlaysAvailable();
    static AppDelegate* const delegate = new AppDelegate(*state, *mainWindow, std::move(options));
    QObject::connect(&guard, &SingleInstanceGuard::bringForwardRequested, delegate,
                     &AppDelegate::bringMainWindowForward);
    delegate->applicationDidFinishLaunching();

    const int code = app.exec();

    // Views first, then the state they show (closing the camera, ending the
    // monitors' threads), while the application object still exists.
    delegate->releaseWindows();
    tray.reset();
    mainWindow.reset();
    state.reset();
    updater.reset();
    return code;
}
