#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace pondra {

class Scheduler;

/// Ends a subscription when released or destroyed. Move-only.
class Subscription final
{
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : m_cancel(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : m_cancel(std::exchange(other.m_cancel, {})) {}
    Subscription& operator=(Subscription&& other) noexcept
    {
        if (this != &other) {
            release();
            m_cancel = std::exchange(other.m_cancel, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { release(); }

    void release()
    {
        if (auto cancel = std::exchange(m_cancel, {}))
            cancel();
    }

private:
    std::function<void()> m_cancel;
};

/// A set of subscriptions that all end together (an owner's "cancellables").
class SubscriptionBag final
{
public:
    void add(Subscription subscription) { m_items.push_back(std::move(subscription)); }
    void clear() { m_items.clear(); }
    std::size_t size() const { return m_items.size(); }

private:
    std::vector<Subscription> m_items;
};

/**
 * A published value: every assignment stores the value, fires the owner's
 * change hook and then hands the value to every subscriber, also when it
 * equals the previous one. Subscribing delivers the current value at once.
 * Main thread only.
 */
template <typename T>
class Published final
{
public:
    using Handler = std::function<void(const T&)>;

    explicit Published(T initial = T{}) : m_state(std::make_shared<State>()) { m_state->value = std::move(initial); }
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return m_state->value; }
    const T& operator()() const { return m_state->value; }

    /// Called after the value is stored and before subscribers hear of it.
    void setChangeHook(std::function<void()> hook) { m_state->changeHook = std::move(hook); }

    void set(T value)
    {
        m_state->value = std::move(value);
        if (m_state->changeHook)
            m_state->changeHook();
        deliver();
    }

    /// The handler runs now with the current value, then on every assignment,
    /// until the returned handle is released or `context` is destroyed.
    [[nodiscard]] Subscription subscribe(QObject* context, Handler handler)
    {
        auto entry = std::make_shared<Entry>();
        entry->context = context;
        entry->hasContext = context != nullptr;
        entry->handler = std::move(handler);
        m_state->entries.push_back(entry);
        std::weak_ptr<State> weakState = m_state;
        std::weak_ptr<Entry> weakEntry = entry;
        const T current = m_state->value;
        entry->handler(current);
        return Subscription([weakState, weakEntry] {
            auto entry = weakEntry.lock();
            if (!entry)
                return;
            entry->active = false;
            if (auto state = weakState.lock())
                std::erase(state->entries, entry);
        });
    }

    std::size_t subscriberCount() const
    {
        std::size_t n = 0;
        for (const auto& e : m_state->entries)
            n += e->active && !e->isOrphaned() ? 1 : 0;
        return n;
    }

private:
    struct Entry
    {
        QPointer<QObject> context;
        bool hasContext = false;
        Handler handler;
        bool active = true;

        bool isOrphaned() const { return hasContext && !context; }
    };
    struct State
    {
        T value{};
        std::function<void()> changeHook;
        std::vector<std::shared_ptr<Entry>> entries;
    };

    void deliver()
    {
        // Deliver to a snapshot: handlers may subscribe, unsubscribe or
        // assign again while we iterate.
        auto state = m_state;
        const T value = state->value;
        const auto snapshot = state->entries;
        for (const auto& entry : snapshot) {
            if (!entry->active)
                continue;
            if (entry->isOrphaned()) {
                entry->active = false;
                std::erase(state->entries, entry);
                continue;
            }
            entry->handler(value);
        }
    }

    std::shared_ptr<State> m_state;
};

/// Passes a value on only when it differs from the last one passed on.
template <typename T>
std::function<void(const T&)> dropRepeats(std::function<void(const T&)> handler)
{
    auto last = std::make_shared<std::optional<T>>();
    return [last, handler = std::move(handler)](const T& value) {
        if (*last && **last == value)
            return;
        *last = value;
        handler(value);
    };
}

/// Ignores the first value (the one a new subscription delivers at once).
template <typename T>
std::function<void(const T&)> skipFirst(std::function<void(const T&)> handler)
{
    auto first = std::make_shared<bool>(true);
    return [first, handler = std::move(handler)](const T& value) {
        if (std::exchange(*first, false))
            return;
        handler(value);
    };
}

/// Delivers each value on the next turn of the main loop (through the scheduler).
template <typename T>
std::function<void(const T&)> onNextTurn(Scheduler& scheduler, QObject* context, std::function<void(const T&)> handler);

} // namespace pondra

#include "Scheduler.h"

template <typename T>
std::function<void(const T&)> pondra::onNextTurn(Scheduler& scheduler, QObject* context,
                                                 std::function<void(const T&)> handler)
{
    auto shared = std::make_shared<std::function<void(const T&)>>(std::move(handler));
    return [&scheduler, context = QPointer<QObject>(context), shared](const T& value) {
        if (!context)
            return;
        scheduler.post(context, [shared, value] { (*shared)(value); });
    };
}
