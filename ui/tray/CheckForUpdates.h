#pragma once

#include "platform/core/Published.h"
#include "platform/updater/Updater.h"
#include "platform/urlopener/UrlOpener.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <memory>

class QAction;

namespace pondra {

/**
 * The one software updater of the process and whether a check can be
 * started now. Made once, before the windows, and kept for the life of the
 * program. Main thread only.
 */
class CheckForUpdatesViewModel final : public QObject
{
    Q_OBJECT
public:
    /// False at first, then the updater's own value, every time it changes.
    Owned<bool, CheckForUpdatesViewModel> canCheckForUpdates{false};

    explicit CheckForUpdatesViewModel(std::unique_ptr<Updater> updater = makeDefaultUpdater(),
                                      QObject* parent = nullptr);
    ~CheckForUpdatesViewModel() override;

    /// Asks the updater for one check that the user started.
    void checkForUpdates();

Q_SIGNALS:
    /// A published value was assigned.
    void changed();
    /// A check that the user started has its answer.
    void answered(const pondra::UpdateCheckResult& result);

private:
    std::unique_ptr<Updater> m_updater;
    Subscription m_subscription;
};

/**
 * The "Check for Updates…" command of the main window's "Pondra" menu:
 * enabled exactly while a check can be started, and the answer shown as a
 * message that does not block the rest of the program.
 */
class CheckForUpdatesView final : public QObject
{
    Q_OBJECT
public:
    CheckForUpdatesView(CheckForUpdatesViewModel& viewModel, std::shared_ptr<UrlOpener> urlOpener,
                        QObject* parent = nullptr);
    ~CheckForUpdatesView() override;

    /// The command, for the menu that shows it.
    QAction* action() const { return m_action; }
    /// The message with the last answer, while it exists.
    QMessageBox* answerMessage() const { return m_answer; }

    /// The texts of the answers.
    static QString answerText(const UpdateCheckResult& result);
    static QString openDownloadPageText() { return tr("Open Download Page"); }

private:
    void onAnswered(const UpdateCheckResult& result);

    CheckForUpdatesViewModel& m_viewModel;
    std::shared_ptr<UrlOpener> m_urlOpener;
    QAction* m_action = nullptr;
    QPointer<QMessageBox> m_answer;
    Subscription m_subscription;
};

} // namespace pondra
