/*
 * A GStreamer device provider for tests: it offers "Video/Source" devices
 * whose source is a pipeline the test chooses, so the program's real camera
 * path (Qt Multimedia on GStreamer) runs on machines without a camera.
 *
 * The cameras come from the key file named by PONDRA_TEST_CAMERAS, one group
 * per camera, in file order:
 *
 *   [portrait]
 *   name=Test Portrait Camera          display name
 *   path=/dev/pondra-test/portrait     "device.path" property (optional)
 *   caps=video/x-raw,format=YUY2,...   what the device offers
 *   pipeline=videotestsrc is-live=true ! videoconvert ! videoscale
 *   default=true                       "is-default" property (optional)
 *
 * The pipeline's last element's free source pad becomes the device element's
 * source pad, so it should end in converters that follow the caps asked of it.
 * The provider watches like a real one (start and stop, not only probe): while
 * it runs, the file is read again every 50 ms, and groups that appear,
 * disappear or change are reported as plugged, unplugged or both, as a real
 * camera's hot-plug would be.
 */
#include <gst/gst.h>

#include <string.h>

#define CONFIG_VARIABLE "PONDRA_TEST_CAMERAS"

GST_DEBUG_CATEGORY_STATIC(pondra_test_cam_debug);
#define GST_CAT_DEFAULT pondra_test_cam_debug

/* ---------- the device ---------- */

typedef struct
{
    GstDevice parent;
    gchar* key;      /* group name: identity across re-reads */
    gchar* entry;    /* the group's whole text: a change re-plugs the camera */
    gchar* pipeline; /* gst-launch description of the source */
} PondraTestCamDevice;

typedef struct
{
    GstDeviceClass parent_class;
} PondraTestCamDeviceClass;

GType pondra_test_cam_device_get_type(void);
G_DEFINE_TYPE(PondraTestCamDevice, pondra_test_cam_device, GST_TYPE_DEVICE)

static GstElement* pondra_test_cam_device_create_element(GstDevice* device, const gchar* name)
{
    PondraTestCamDevice* self = (PondraTestCamDevice*)device;
    GError* error = NULL;
    GstElement* bin =
        gst_parse_bin_from_description_full(self->pipeline, TRUE, NULL, GST_PARSE_FLAG_NONE, &error);
    if (!bin) {
        GST_WARNING_OBJECT(device, "cannot build \"%s\": %s", self->pipeline, error ? error->message : "?");
        g_clear_error(&error);
        return NULL;
    }
    g_clear_error(&error);
    if (name)
        gst_object_set_name(GST_OBJECT(bin), name);
    return bin;
}

static void pondra_test_cam_device_finalize(GObject* object)
{
    PondraTestCamDevice* self = (PondraTestCamDevice*)object;
    g_free(self->key);
    g_free(self->entry);
    g_free(self->pipeline);
    G_OBJECT_CLASS(pondra_test_cam_device_parent_class)->finalize(object);
}

static void pondra_test_cam_device_class_init(PondraTestCamDeviceClass* klass)
{
    GST_DEVICE_CLASS(klass)->create_element = pondra_test_cam_device_create_element;
    G_OBJECT_CLASS(klass)->finalize = pondra_test_cam_device_finalize;
}

static void pondra_test_cam_device_init(PondraTestCamDevice* self)
{
    (void)self;
}

static GstDevice* device_from_group(GKeyFile* file, const gchar* group)
{
    gchar* name = g_key_file_get_string(file, group, "name", NULL);
    gchar* caps_text = g_key_file_get_string(file, group, "caps", NULL);
    gchar* pipeline = g_key_file_get_string(file, group, "pipeline", NULL);
    gchar* path = g_key_file_get_string(file, group, "path", NULL);
    const gboolean is_default = g_key_file_get_boolean(file, group, "default", NULL);
    GstDevice* device = NULL;
    GstCaps* caps = caps_text ? gst_caps_from_string(caps_text) : NULL;
    if (name && caps && pipeline) {
        GstStructure* props =
            gst_structure_new("pondra-test-camera", "device.api", G_TYPE_STRING, "pondra-test", "is-default",
                              G_TYPE_BOOLEAN, is_default, NULL);
        if (path)
            gst_structure_set(props, "device.path", G_TYPE_STRING, path, NULL);
        device = g_object_new(pondra_test_cam_device_get_type(), "display-name", name, "device-class",
                              "Video/Source", "caps", caps, "properties", props, NULL);
        gst_structure_free(props);
        PondraTestCamDevice* self = (PondraTestCamDevice*)device;
        self->key = g_strdup(group);
        self->entry =
            g_strdup_printf("%s\n%s\n%s\n%s\n%d", name, caps_text, pipeline, path ? path : "", is_default);
        self->pipeline = g_strdup(pipeline);
    }
    if (caps)
        gst_caps_unref(caps);
    g_free(name);
    g_free(caps_text);
    g_free(pipeline);
    g_free(path);
    return device;
}

/* The cameras the file names now, in file order (floating references). */
static GList* read_cameras(void)
{
    const gchar* path = g_getenv(CONFIG_VARIABLE);
    if (!path || !*path)
        return NULL;
    GKeyFile* file = g_key_file_new();
    GList* devices = NULL;
    if (g_key_file_load_from_file(file, path, G_KEY_FILE_NONE, NULL)) {
        gchar** groups = g_key_file_get_groups(file, NULL);
        for (gchar** g = groups; g && *g; ++g) {
            GstDevice* device = device_from_group(file, *g);
            if (device)
                devices = g_list_append(devices, device);
        }
        g_strfreev(groups);
    }
    g_key_file_free(file);
    return devices;
}

/* ---------- the provider ---------- */

typedef struct
{
    GstDeviceProvider parent;
    GThread* watcher;
    GMutex lock;
    GCond wake;
    gboolean stopping;
    GList* plugged; /* PondraTestCamDevice*, owned references */
} PondraTestCamProvider;

typedef struct
{
    GstDeviceProviderClass parent_class;
} PondraTestCamProviderClass;

GType pondra_test_cam_provider_get_type(void);
G_DEFINE_TYPE(PondraTestCamProvider, pondra_test_cam_provider, GST_TYPE_DEVICE_PROVIDER)

static GList* pondra_test_cam_provider_probe(GstDeviceProvider* provider)
{
    GST_INFO_OBJECT(provider, "probe");
    (void)provider;
    return read_cameras();
}

static PondraTestCamDevice* find_by_key(GList* list, const gchar* key)
{
    for (GList* l = list; l; l = l->next)
        if (strcmp(((PondraTestCamDevice*)l->data)->key, key) == 0)
            return l->data;
    return NULL;
}

/* Brings the plugged cameras in line with the file. */
static void sync_cameras(PondraTestCamProvider* self)
{
    GList* now = read_cameras();
    GList* keep = NULL;
    for (GList* l = self->plugged; l; l = l->next) {
        PondraTestCamDevice* old = l->data;
        PondraTestCamDevice* same = find_by_key(now, old->key);
        if (same && strcmp(same->entry, old->entry) == 0) {
            keep = g_list_append(keep, old);
        } else {
            GST_INFO_OBJECT(self, "unplugged %s", old->key);
            gst_device_provider_device_remove(GST_DEVICE_PROVIDER(self), GST_DEVICE(old));
            gst_object_unref(old);
        }
    }
    g_list_free(self->plugged);
    self->plugged = keep;
    for (GList* l = now; l; l = l->next) {
        PondraTestCamDevice* fresh = l->data;
        PondraTestCamDevice* known = find_by_key(self->plugged, fresh->key);
        if (known) {
            gst_object_unref(gst_object_ref_sink(fresh));
            continue;
        }
        gst_object_ref_sink(fresh);
        self->plugged = g_list_append(self->plugged, fresh);
        GST_INFO_OBJECT(self, "plugged %s", fresh->key);
        gst_device_provider_device_add(GST_DEVICE_PROVIDER(self), GST_DEVICE(gst_object_ref(fresh)));
    }
    g_list_free(now);
}

static gpointer watch_config(gpointer data)
{
    PondraTestCamProvider* self = data;
    g_mutex_lock(&self->lock);
    while (!self->stopping) {
        const gint64 until = g_get_monotonic_time() + 50 * G_TIME_SPAN_MILLISECOND;
        g_cond_wait_until(&self->wake, &self->lock, until);
        if (!self->stopping)
            sync_cameras(self);
    }
    g_mutex_unlock(&self->lock);
    return NULL;
}

static gboolean pondra_test_cam_provider_start(GstDeviceProvider* provider)
{
    GST_INFO_OBJECT(provider, "start");
    PondraTestCamProvider* self = (PondraTestCamProvider*)provider;
    g_mutex_lock(&self->lock);
    self->stopping = FALSE;
    sync_cameras(self);
    g_mutex_unlock(&self->lock);
    self->watcher = g_thread_new("pondra-test-cameras", watch_config, self);
    return TRUE;
}

static void pondra_test_cam_provider_stop(GstDeviceProvider* provider)
{
    PondraTestCamProvider* self = (PondraTestCamProvider*)provider;
    g_mutex_lock(&self->lock);
    self->stopping = TRUE;
    g_cond_signal(&self->wake);
    g_mutex_unlock(&self->lock);
    if (self->watcher)
        g_thread_join(self->watcher);
    self->watcher = NULL;
    for (GList* l = self->plugged; l; l = l->next) {
        gst_device_provider_device_remove(provider, GST_DEVICE(l->data));
        gst_object_unref(l->data);
    }
    g_list_free(self->plugged);
    self->plugged = NULL;
}

static void pondra_test_cam_provider_finalize(GObject* object)
{
    PondraTestCamProvider* self = (PondraTestCamProvider*)object;
    g_mutex_clear(&self->lock);
    g_cond_clear(&self->wake);
    G_OBJECT_CLASS(pondra_test_cam_provider_parent_class)->finalize(object);
}

static void pondra_test_cam_provider_class_init(PondraTestCamProviderClass* klass)
{
    GstDeviceProviderClass* provider_class = GST_DEVICE_PROVIDER_CLASS(klass);
    provider_class->probe = pondra_test_cam_provider_probe;
    provider_class->start = pondra_test_cam_provider_start;
    provider_class->stop = pondra_test_cam_provider_stop;
    G_OBJECT_CLASS(klass)->finalize = pondra_test_cam_provider_finalize;
    gst_device_provider_class_set_static_metadata(provider_class, "Pondra test cameras", "Source/Video",
                                                  "Cameras for tests, sourced from pipelines a test names",
                                                  "Pondra developers");
}

static void pondra_test_cam_provider_init(PondraTestCamProvider* self)
{
    g_mutex_init(&self->lock);
    g_cond_init(&self->wake);
}

static gboolean plugin_init(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(pondra_test_cam_debug, "pondratestcam", 0, "Pondra test cameras");
    return gst_device_provider_register(plugin, "pondratestcamprovider", GST_RANK_PRIMARY,
                                        pondra_test_cam_provider_get_type());
}

#define PACKAGE "pondra"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, pondratestcam, "Pondra test cameras", plugin_init,
                  "0.1", "unknown", "pondra", "https://pondra.invalid/")
