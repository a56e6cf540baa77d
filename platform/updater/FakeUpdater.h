#pragma once

#include "platform/updater/Updater.h"

#include <QList>
#include <QPointer>

namespace pondra {

/// An updater that the test drives: it says what the test sets and keeps
/// every check for the test to answer.
class FakeUpdater final : public Updater
{
public:
    struct Check
    {
        QPointer<QObject> context;
        Callback done;
    };

    const ReadOnly<bool>& canCheckForUpdates() const override { return m_canCheck; }
    void checkForUpdates(QObject* context, Callback done) override
    {
        if (m_canCheck.get())
            checks.append({context, std::move(done)});
    }

    void setCanCheckForUpdates(bool value) { m_canCheck.set(value); }
    /// Answers check `index` once, if its context still lives.
    void answer(qsizetype index, const UpdateCheckResult& result)
    {
        Check& check = checks[index];
        if (check.done && check.context)
            std::exchange(check.done, {})(result);
    }

    QList<Check> checks;

private:
    Published<bool> m_canCheck{false};
};

} // namespace pondra
