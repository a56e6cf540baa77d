#pragma once

// A glow and a bubble that only write down what they are asked to do, in order.
#include "program/IncomingRingObserver.h"

#include <QStringList>

namespace pondra::test {

class RecordingGlow final : public RingGlow
{
public:
    explicit RecordingGlow(QStringList& calls) : m_calls(calls) {}
    void showGlow() override { m_calls << QStringLiteral("glow shown"); }
    void hideGlow() override { m_calls << QStringLiteral("glow hidden"); }
    void raiseGlow() override { m_calls << QStringLiteral("glow raised"); }

private:
    QStringList& m_calls;
};

class RecordingBubble final : public RingBubble
{
public:
    explicit RecordingBubble(QStringList& calls) : m_calls(calls) {}
    void show(const QString& from, const std::optional<QImage>& photo) override
    {
        m_calls << QStringLiteral("bubble shown for %1%2")
                       .arg(from, photo ? QStringLiteral(" with photo") : QString());
    }
    void hide() override { m_calls << QStringLiteral("bubble hidden"); }

private:
    QStringList& m_calls;
};

} // namespace pondra::test
