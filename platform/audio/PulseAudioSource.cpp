#include "platform/audio/PulseAudioSource.h"

#include "platform/audio/PulseFacts.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

namespace pondra {

namespace {
constexpr pa_usec_t retryDelayUsec = 1'000'000;

QString propText(pa_proplist* props, const char* key)
{
    const char* value = props ? pa_proplist_gets(props, key) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

float loudestChannel(const pa_cvolume& volume)
{
    if (volume.channels == 0)
        return 1.0f;
    return std::min(1.0f, float(double(pa_cvolume_max(&volume)) / double(PA_VOLUME_NORM)));
}
} // namespace

// Everything but the snapshot itself is touched only on libpulse's thread
// (or with its lock held).
struct PulseAudioSource::Impl
{
    QByteArray server;
    pa_threaded_mainloop* loop = nullptr;
    pa_mainloop_api* api = nullptr;
    pa_context* context = nullptr;
    pa_context* deadContext = nullptr;
    pa_time_event* retry = nullptr;

    int pendingReplies = 0;
    bool refreshAgain = false;
    PulseServerFacts building;
    std::unordered_map<std::uint32_t, QString> moduleNames;
    std::vector<std::uint32_t> sinkModules;

    mutable std::mutex mutex;
    std::condition_variable settledChanged;
    AudioSnapshot snapshot;
    bool connected = false;
    bool settled = false;
    std::uint64_t generation = 0;

    void connect()
    {
        pa_context* c = pa_context_new(api, "Pondra");
        if (!c) {
            publish({}, false);
            scheduleRetry();
            return;
        }
        context = c;
        pendingReplies = 0;
        refreshAgain = false;
        pa_context_set_state_callback(c, &Impl::onState, this);
        pa_context_set_subscribe_callback(c, &Impl::onEvent, this);
        const char* address = server.isEmpty() ? nullptr : server.constData();
        if (pa_context_connect(c, address, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            fail(c);
    }

    // A failed context cannot come back: drop it (later, off its own call
    // stack) and try a new one.
    void fail(pa_context* c)
    {
        if (c != context)
            return;
        pa_context_set_state_callback(c, nullptr, nullptr);
        pa_context_set_subscribe_callback(c, nullptr, nullptr);
        context = nullptr;
        if (deadContext)
            pa_context_unref(deadContext);
        deadContext = c;
        publish({}, false);
        scheduleRetry();
    }

    void scheduleRetry()
    {
        if (retry)
            return;
        timeval when{};
        pa_timeval_add(pa_gettimeofday(&when), retryDelayUsec);
        retry = api->time_new(api, &when, &Impl::onRetry, this);
    }

    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* userdata)
    {
        auto* self = static_cast<Impl*>(userdata);
        api->time_free(event);
        self->retry = nullptr;
        if (self->deadContext) {
            pa_context_unref(self->deadContext);
            self->deadContext = nullptr;
        }
        self->connect();
    }

    static void onState(pa_context* c, void* userdata)
    {
        auto* self = static_cast<Impl*>(userdata);
        switch (pa_context_get_state(c)) {
        case PA_CONTEXT_READY: {
            const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK
                                                     | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT
                                                     | PA_SUBSCRIPTION_MASK_CARD);
            if (pa_operation* op = pa_context_subscribe(c, mask, nullptr, nullptr))
                pa_operation_unref(op);
            self->refresh();
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->fail(c);
            break;
        default:
            break;
        }
    }

    static void onEvent(pa_context* c, pa_subscription_event_type_t, uint32_t, void* userdata)
    {
        auto* self = static_cast<Impl*>(userdata);
        if (c == self->context)
            self->refresh();
    }

    // One round of four queries; events that arrive meanwhile ask for one more round.
    void refresh()
    {
        if (pendingReplies > 0) {
            refreshAgain = true;
            return;
        }
        building = {};
        moduleNames.clear();
        sinkModules.clear();
        pendingReplies = 4;
        track(pa_context_get_server_info(context, &Impl::onServer, this));
        track(pa_context_get_sink_info_list(context, &Impl::onSink, this));
        track(pa_context_get_source_info_list(context, &Impl::onSource, this));
        track(pa_context_get_module_info_list(context, &Impl::onModule, this));
    }

    void track(pa_operation* op)
    {
        if (op)
            pa_operation_unref(op);
        else
            --pendingReplies;
    }

    static void onServer(pa_context*, const pa_server_info* info, void* userdata)
    {
        auto* self = static_cast<Impl*>(userdata);
        if (info) {
            self->building.defaultSinkName = QString::fromUtf8(info->default_sink_name);
            self->building.defaultSourceName = QString::fromUtf8(info->default_source_name);
        }
        self->replyDone();
    }

    static void onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata)
    {
        auto* self = static_cast<Impl*>(userdata);
        if (eol != 0) {
            self->replyDone();
            return;
        }
        PulseSinkFacts sink;
        sink.index = info->index;
        sink.card = info->card;
        sink.name = QString::fromUtf8(info->name);
        sink.description = QString::fromUtf8(info->description);
        sink.isRunning = info->state == PA_SINK_RUNNING;
        sink.volume = loudestChannel(info->volume);
        sink.isMuted = info->mute != 0;
        if (const pa_sink_port_info* port = info->active_port) {
            sink.hasHdmiPortActive = port->type == PA_DEVICE_PORT_TYPE_HDMI
                || QByteArray(port->name ? port->name : "").contains("hdmi");
        }
        sink.bus = propText(info->proplist, "device.bus");
        sink.api = propText(info->proplist, "device.api");
        sink.profile = propText(info->proplist, "api.bluez5.profile");
        if (sink.profile.isEmpty())
            sink.profile = propText(info->proplist, "bluetooth.protocol");
        self->building.sinks.push_back(sink);
        self->sinkModules.push_back(info->owner_module);
    }

    static void onSource(pa_context*, const pa_source_info* info, int eol, void* userdata)
    {
        auto* self = static_cast<Impl*>(userdata);
        if (eol != 0) {
            self->replyDone();
            return;
        }
        PulseSourceFacts source;
        source.index = info->index;
        source.card = info->card;
        source.monitorOfSink = info->monitor_of_sink;
        source.name = QString::fromUtf8(info->name);
        source.isRunning = info->state == PA_SOURCE_RUNNING;
        self->building.sources.push_back(source);
    }

    static void onModule(pa_context*, const pa_module_info* info, int eol, void* userdata)
    {
        auto* self = static_cast<Impl*>(userdata);
        if (eol != 0) {
            self->replyDone();
            return;
        }
        self->moduleNames[info->index] = QString::fromUtf8(info->name);
    }

    void replyDone()
    {
        if (--pendingReplies > 0)
            return;
        for (std::size_t i = 0; i < building.sinks.size(); ++i) {
            const auto it = moduleNames.find(sinkModules[i]);
            if (it != moduleNames.end())
                building.sinks[i].moduleName = it->second;
        }
        publish(buildAudioSnapshot(building), true);
        if (std::exchange(refreshAgain, false) && context)
            refresh();
    }

    void publish(AudioSnapshot next, bool isConnected)
    {
        {
            std::lock_guard lock(mutex);
            snapshot = std::move(next);
            connected = isConnected;
            settled = true;
            ++generation;
        }
        settledChanged.notify_all();
    }
};

PulseAudioSource::PulseAudioSource(QByteArray server, std::chrono::milliseconds firstFill) : d(std::make_unique<Impl>())
{
    d->server = std::move(server);
    d->loop = pa_threaded_mainloop_new();
    d->api = pa_threaded_mainloop_get_api(d->loop);
    pa_threaded_mainloop_lock(d->loop);
    d->connect();
    pa_threaded_mainloop_unlock(d->loop);
    pa_threaded_mainloop_start(d->loop);

    // One bounded wait, so the first values a monitor publishes are real when a server runs.
    std::unique_lock lock(d->mutex);
    d->settledChanged.wait_for(lock, firstFill, [this] { return d->settled; });
}

PulseAudioSource::~PulseAudioSource()
{
    pa_threaded_mainloop_lock(d->loop);
    if (d->retry)
        d->api->time_free(d->retry);
    if (pa_context* c = std::exchange(d->context, nullptr)) {
        pa_context_set_state_callback(c, nullptr, nullptr);
        pa_context_set_subscribe_callback(c, nullptr, nullptr);
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
    if (d->deadContext)
        pa_context_unref(d->deadContext);
    pa_threaded_mainloop_unlock(d->loop);
    pa_threaded_mainloop_stop(d->loop);
    pa_threaded_mainloop_free(d->loop);
}

AudioSnapshot PulseAudioSource::snapshot() const
{
    std::lock_guard lock(d->mutex);
    return d->snapshot;
}

bool PulseAudioSource::isConnected() const
{
    std::lock_guard lock(d->mutex);
    return d->connected;
}

std::uint64_t PulseAudioSource::generation() const
{
    std::lock_guard lock(d->mutex);
    return d->generation;
}

std::shared_ptr<AudioDeviceSource> sharedPulseAudioSource()
{
    static std::mutex mutex;
    static std::weak_ptr<AudioDeviceSource> shared;
    std::lock_guard lock(mutex);
    auto source = shared.lock();
    if (!source) {
        source = std::make_shared<PulseAudioSource>();
        shared = source;
    }
    return source;
}

} // namespace pondra
