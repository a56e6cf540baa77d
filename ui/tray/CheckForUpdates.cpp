#include "ui/tray/CheckForUpdates.h"

#include <QAction>
#include <QMessageBox>
#include <QPushButton>

namespace pondra {

CheckForUpdatesViewModel::CheckForUpdatesViewModel(std::unique_ptr<Updater> updater, QObject* parent)
    : QObject(parent), m_updater(std::move(updater))
{
    canCheckForUpdates.setChangeHook([this] { Q_EMIT changed(); });
    // The updater hands its current value at once, so the flag is right from
    // the start, and every later one.
    m_subscription = m_updater->canCheckForUpdates().subscribe(
        this, [this](bool value) { canCheckForUpdates.set(value); });
}

CheckForUpdatesViewModel::~CheckForUpdatesViewModel() = default;

void CheckForUpdatesViewModel::checkForUpdates()
{
    m_updater->checkForUpdates(this, [this](const UpdateCheckResult& result) { Q_EMIT answered(result); });
}

CheckForUpdatesView::CheckForUpdatesView(CheckForUpdatesViewModel& viewModel,
                                         std::shared_ptr<UrlOpener> urlOpener, QObject* parent)
    : QObject(parent), m_viewModel(viewModel), m_urlOpener(std::move(urlOpener)),
      m_action(new QAction(tr("Check for Updates\u2026"), this))
{
    m_action->setMenuRole(QAction::ApplicationSpecificRole);
    connect(m_action, &QAction::triggered, &m_viewModel, &CheckForUpdatesViewModel::checkForUpdates);
    connect(&m_viewModel, &CheckForUpdatesViewModel::answered, this, &CheckForUpdatesView::onAnswered);
    m_subscription =
        m_viewModel.canCheckForUpdates.subscribe(this, [this](bool value) { m_action->setEnabled(value); });
}

CheckForUpdatesView::~CheckForUpdatesView()
{
    delete m_answer.data();
}

QString CheckForUpdatesView::answerText(const UpdateCheckResult& result)
{
    switch (result.kind) {
    case UpdateCheckResult::Kind::updateAvailable:
        return tr("Pondra %1 is available.").arg(result.version);
    case UpdateCheckResult::Kind::upToDate:
        return tr("Pondra is up to date.");
    case UpdateCheckResult::Kind::failed:
        break;
    }
    return tr("Couldn't check for updates: %1").arg(result.error);
}

void CheckForUpdatesView::onAnswered(const UpdateCheckResult& result)
{
    // One answer on screen at a time: a newer one replaces the last.
    delete m_answer.data();
    const bool available = result.kind == UpdateCheckResult::Kind::updateAvailable;
    auto* box = new QMessageBox(result.kind == UpdateCheckResult::Kind::failed ? QMessageBox::Warning
                                                                               : QMessageBox::Information,
                                tr("Check for Updates"), answerText(result));
    m_answer = box;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    // Texts from the feed and from the network stay plain.
    box->setTextFormat(Qt::PlainText);
    QPushButton* dismiss = box->addButton(available ? QMessageBox::Close : QMessageBox::Ok);
    // Enter dismisses; opening a browser takes a deliberate click.
    box->setDefaultButton(dismiss);
    box->setEscapeButton(dismiss);
    if (available) {
        QPushButton* open = box->addButton(openDownloadPageText(), QMessageBox::AcceptRole);
        const QUrl page = result.downloadPage;
        connect(open, &QPushButton::clicked, this, [this, page] {
            if (isSecureUpdateLink(page))
                m_urlOpener->open(page);
        });
    }
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace pondra
