"""What a window sends to the X server's screen, counted from outside: a client of its own that asks the X
DAMAGE extension for every rectangle drawn into the window (the reports a compositing manager gets), read on
a thread. Through libxcb and libxcb-damage with ctypes, so it needs no Python module beyond the standard ones.

    counter = DamageCounter(display, window_id)
    start = counter.snapshot()
    ...
    rectangles, flushes = counter.since(start)

A flush is the drawing the program sends at once: its rectangles arrive within a millisecond of each other.
"""
import ctypes
import ctypes.util
import select
import threading

_RAW_RECTANGLES = 0


class _ExtensionReply(ctypes.Structure):
    _fields_ = [("response_type", ctypes.c_uint8), ("pad0", ctypes.c_uint8), ("sequence", ctypes.c_uint16),
                ("length", ctypes.c_uint32), ("present", ctypes.c_uint8), ("major_opcode", ctypes.c_uint8),
                ("first_event", ctypes.c_uint8), ("first_error", ctypes.c_uint8)]


class _Cookie(ctypes.Structure):
    _fields_ = [("sequence", ctypes.c_uint)]


class _DamageNotify(ctypes.Structure):
    _fields_ = [("response_type", ctypes.c_uint8), ("level", ctypes.c_uint8), ("sequence", ctypes.c_uint16),
                ("drawable", ctypes.c_uint32), ("damage", ctypes.c_uint32), ("timestamp", ctypes.c_uint32),
                ("x", ctypes.c_int16), ("y", ctypes.c_int16), ("width", ctypes.c_uint16),
                ("height", ctypes.c_uint16)]


class DamageCounter:
    def __init__(self, display, window):
        self._xcb = ctypes.CDLL("libxcb.so.1")
        self._damage = ctypes.CDLL("libxcb-damage.so.0")
        self._libc = ctypes.CDLL(ctypes.util.find_library("c"))
        xcb, damage = self._xcb, self._damage
        xcb.xcb_connect.restype = ctypes.c_void_p
        xcb.xcb_connect.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
        xcb.xcb_connection_has_error.argtypes = [ctypes.c_void_p]
        xcb.xcb_get_file_descriptor.argtypes = [ctypes.c_void_p]
        xcb.xcb_generate_id.argtypes = [ctypes.c_void_p]
        xcb.xcb_generate_id.restype = ctypes.c_uint32
        xcb.xcb_get_extension_data.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        xcb.xcb_get_extension_data.restype = ctypes.POINTER(_ExtensionReply)
        xcb.xcb_flush.argtypes = [ctypes.c_void_p]
        xcb.xcb_poll_for_event.argtypes = [ctypes.c_void_p]
        xcb.xcb_poll_for_event.restype = ctypes.c_void_p
        xcb.xcb_disconnect.argtypes = [ctypes.c_void_p]
        damage.xcb_damage_query_version.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32]
        damage.xcb_damage_query_version.restype = _Cookie
        damage.xcb_damage_query_version_reply.argtypes = [ctypes.c_void_p, _Cookie, ctypes.c_void_p]
        damage.xcb_damage_query_version_reply.restype = ctypes.c_void_p
        damage.xcb_damage_create.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32, ctypes.c_uint8]
        self._libc.free.argtypes = [ctypes.c_void_p]

        self._connection = xcb.xcb_connect(display.encode(), None)
        if not self._connection or xcb.xcb_connection_has_error(self._connection):
            raise RuntimeError(f"cannot connect to {display}")
        extension = xcb.xcb_get_extension_data(self._connection, ctypes.addressof(
            ctypes.c_void_p.in_dll(damage, "xcb_damage_id")))
        if not extension or not extension.contents.present:
            raise RuntimeError("the X server has no DAMAGE extension")
        self._notify = extension.contents.first_event  # DamageNotify is the extension's first event
        reply = damage.xcb_damage_query_version_reply(
            self._connection, damage.xcb_damage_query_version(self._connection, 1, 1), None)
        self._libc.free(reply)
        damage.xcb_damage_create(self._connection, xcb.xcb_generate_id(self._connection), window, _RAW_RECTANGLES)
        xcb.xcb_flush(self._connection)

        self._lock = threading.Lock()
        self._stamps = []  # server time of each rectangle, in ms
        self._running = True
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        fd = self._xcb.xcb_get_file_descriptor(self._connection)
        while self._running:
            select.select([fd], [], [], 0.2)
            while True:
                event = self._xcb.xcb_poll_for_event(self._connection)
                if not event:
                    break
                notify = _DamageNotify.from_address(event)
                if notify.response_type & 0x7f == self._notify:
                    with self._lock:
                        self._stamps.append(notify.timestamp)
                self._libc.free(event)

    def snapshot(self):
        with self._lock:
            return len(self._stamps)

    def since(self, start):
        """Rectangles and flushes drawn since `start` (a snapshot)."""
        with self._lock:
            stamps = self._stamps[start:]
        flushes = sum(1 for i, t in enumerate(stamps) if i == 0 or t - stamps[i - 1] > 1)
        return len(stamps), flushes

    def close(self):
        self._running = False
        self._thread.join(timeout=1)
        self._xcb.xcb_disconnect(self._connection)
