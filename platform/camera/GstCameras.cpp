#include "platform/camera/GstCameras.h"

#include <gst/gst.h>

#include <QMutex>

#include <map>
#include <mutex>

namespace pondra {

namespace {

// Qt's capture session names the camera's element "camerasrc" and keeps it
// with its converters in a bin "camerabin"; errors from inside either are
// the camera's. (The element may fail before it is put into the bin.)
bool isCameraElement(GstObject* object)
{
    const gchar* name = GST_OBJECT_NAME(object);
    return g_strcmp0(name, "camerasrc") == 0 || g_strcmp0(name, "camerabin") == 0;
}

struct Registry
{
    QMutex mutex;
    quint64 nextId = 0;
    std::map<quint64, GstCameraErrors::Listener> listeners;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

bool insideCamera(GstObject* object)
{
    GstObject* current = object ? GST_OBJECT(gst_object_ref(object)) : nullptr;
    while (current) {
        if (isCameraElement(current)) {
            gst_object_unref(current);
            return true;
        }
        GstObject* parent = gst_object_get_parent(current);
        gst_object_unref(current);
        current = parent;
    }
    return false;
}

// The tracer hook "element-post-message-pre": every message any element
// posts, on the posting thread. Bins post their children's messages again;
// only the first post, by the failing element itself, counts.
void onMessagePosted(GObject*, GstClockTime, GstElement* element, GstMessage* message)
{
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR || GST_MESSAGE_SRC(message) != GST_OBJECT(element) ||
        !insideCamera(GST_MESSAGE_SRC(message)))
        return;
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    const QString text = QString::fromUtf8(error ? error->message : "unknown error");
    g_clear_error(&error);
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    for (const auto& [id, listener] : r.listeners)
        listener(text);
}

// A tracer of our own: the only way to see the messages of a pipeline that
// another library owns.
struct ErrorTracer
{
    GstTracer parent;
};

struct ErrorTracerClass
{
    GstTracerClass parentClass;
};

G_DEFINE_TYPE(ErrorTracer, pondra_error_tracer, GST_TYPE_TRACER)

void pondra_error_tracer_class_init(ErrorTracerClass*) {}

void pondra_error_tracer_init(ErrorTracer* self)
{
    gst_tracing_register_hook(GST_TRACER(self), "element-post-message-pre", G_CALLBACK(onMessagePosted));
}

bool initGStreamer()
{
    static const bool ok = gst_init_check(nullptr, nullptr, nullptr);
    return ok;
}

void installTracer()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Lives as long as the process.
        if (initGStreamer())
            g_object_new(pondra_error_tracer_get_type(), nullptr);
    });
}

} // namespace

std::shared_ptr<void> GstCameraErrors::listen(Listener listener)
{
    installTracer();
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    const quint64 id = r.nextId++;
    r.listeners.emplace(id, std::move(listener));
    return std::shared_ptr<void>(nullptr, [id](void*) {
        Registry& r = registry();
        QMutexLocker lock(&r.mutex);
        r.listeners.erase(id);
    });
}

std::optional<QHash<QString, int>> gstCamerasByName()
{
    if (!initGStreamer())
        return std::nullopt;
    // Asked of the providers themselves: a device monitor of our own would
    // take the providers' announcements away from Qt's monitor (a provider
    // hands them to the monitor that started watching it last).
    QHash<QString, int> counts;
    bool watched = false;
    GList* factories = gst_device_provider_factory_list_get_device_providers(GST_RANK_MARGINAL);
    for (GList* f = factories; f; f = f->next) {
        auto* factory = GST_DEVICE_PROVIDER_FACTORY(f->data);
        if (!gst_device_provider_factory_has_classes(factory, "Video/Source"))
            continue;
        GstDeviceProvider* provider = gst_device_provider_factory_get(factory);
        if (!provider)
            continue;
        watched = true;
        GList* devices = gst_device_provider_get_devices(provider);
        for (GList* d = devices; d; d = d->next) {
            if (!gst_device_has_classes(GST_DEVICE(d->data), "Video/Source"))
                continue;
            gchar* name = gst_device_get_display_name(GST_DEVICE(d->data));
            ++counts[QString::fromUtf8(name)];
            g_free(name);
        }
        g_list_free_full(devices, gst_object_unref);
        gst_object_unref(provider);
    }
    gst_plugin_feature_list_free(factories);
    if (!watched)
        return std::nullopt;
    return counts;
}

} // namespace pondra
