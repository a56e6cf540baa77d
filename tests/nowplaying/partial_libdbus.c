/* Stands in for a libdbus that lacks most of its functions. */
__attribute__((visibility("default"))) void dbus_error_init(void* error)
{
    (void)error;
}
