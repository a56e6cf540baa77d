#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>
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
 * The read-only face of a published value: what views and other readers get.
 * They can read it and subscribe to it; only its owner assigns it (see
 * `Published` and `Owned`). Subscribing delivers the current value at once,
 * then every assignment, also of a value equal to the previous one.
 * Main thread only.
 */
template <typename T> class ReadOnly
{
public:
    using Handler = std::function<void(const T&)>;

    ReadOnly(const ReadOnly&) = delete;
    ReadOnly& operator=(const ReadOnly&) = delete;

    const T& get() const { return m_state->value; }
    const T& operator()() const { return m_state->value; }

    /// The handler runs now with the current value, then on every assignment,
    /// until the returned handle is released or `context` is destroyed.
    [[nodiscard]] Subscription subscribe(QObject* context, Handler handler) const
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

protected:
    ReadOnly() : m_state(std::make_shared<State>()) {}
    explicit ReadOnly(T initial) : ReadOnly() { m_state->value = std::move(initial); }
    ~ReadOnly() = default;

    void setChangeHook(std::function<void()> hook) { m_state->changeHook = std::move(hook); }

    void set(T value)
    {
        m_state->value = std::move(value);
        const auto generation = ++m_state->generation;
        if (m_state->changeHook)
            m_state->changeHook();
        deliver(generation);
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
        std::uint64_t generation = 0;
        std::function<void()> changeHook;
        std::vector<std::shared_ptr<Entry>> entries;
    };

    void deliver(std::uint64_t generation)
    {
        // Deliver to a snapshot: handlers may subscribe, unsubscribe or
        // assign again while we iterate. An assignment made meanwhile has
        // delivered a newer value to everyone, so this older one stops there:
        // no subscriber may end on a stale value.
        auto state = m_state;
        const T value = state->value;
        const auto snapshot = state->entries;
        for (const auto& entry : snapshot) {
            if (state->generation != generation)
                return;
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

/**
 * A published value that anyone holding it may assign: every assignment
 * stores the value, fires the change hook and then hands the value to every
 * subscriber. Owners keep these private or use `Owned` for public members.
 */
template <typename T> class Published final : public ReadOnly<T>
{
public:
    Published() = default;
    explicit Published(T initial) : ReadOnly<T>(std::move(initial)) {}

    /// Called after the value is stored and before subscribers hear of it.
    using ReadOnly<T>::setChangeHook;
    using ReadOnly<T>::set;
};

/**
 * A published member whose assignment and change hook belong to `Owner`
 * alone; everyone else sees the read-only face.
 */
template <typename T, typename Owner> class Owned final : public ReadOnly<T>
{
public:
    Owned() = default;
    explicit Owned(T initial) : ReadOnly<T>(std::move(initial)) {}

private:
    friend Owner;
};

/// Passes a value on only when it differs from the last one passed on.
template <typename T> std::function<void(const T&)> dropRepeats(std::function<void(const T&)> handler)
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
template <typename T> std::function<void(const T&)> skipFirst(std::function<void(const T&)> handler)
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
std::function<void(const T&)> onNextTurn(Scheduler& scheduler, QObject* context,
                                         std::function<void(const T&)> handler);

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
