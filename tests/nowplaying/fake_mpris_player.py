#!/usr/bin/python3
"""Scripted MPRIS players on the session bus, for what a real player won't do.

Usage: fake_mpris_player.py CONFIG.json

CONFIG is a list of players: {"name": "org.mpris.MediaPlayer2.x",
"properties": {"PlaybackStatus": VALUE, "Metadata": {"xesam:title": VALUE}},
"delays": {"PlaybackStatus": seconds}}, where VALUE is [type, value] with
type one of s, as, i, ai, o. Each player gets its own connection (MPRIS puts
every player at the same object path). Prints "ready" once all names are
owned.
"""

import json
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

PLAYER_INTERFACE = "org.mpris.MediaPlayer2.Player"
OBJECT_PATH = "/org/mpris/MediaPlayer2"


def typed(entry):
    kind, value = entry
    if kind == "s":
        return dbus.String(value)
    if kind == "as":
        return dbus.Array([dbus.String(v) for v in value], signature="s")
    if kind == "i":
        return dbus.Int32(value)
    if kind == "ai":
        return dbus.Array([dbus.Int32(v) for v in value], signature="i")
    if kind == "o":
        return dbus.ObjectPath(value)
    raise ValueError(kind)


def property_value(entry):
    if isinstance(entry, dict):
        return dbus.Dictionary({k: typed(v) for k, v in entry.items()}, signature="sv")
    return typed(entry)


class Player(dbus.service.Object):
    def __init__(self, connection, config):
        super().__init__(connection, OBJECT_PATH)
        self.properties = {k: property_value(v) for k, v in config.get("properties", {}).items()}
        self.delays = config.get("delays", {})

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v",
                         async_callbacks=("reply", "fail"))
    def Get(self, interface, name, reply, fail):
        if interface != PLAYER_INTERFACE or name not in self.properties:
            fail(dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs"))
            return
        value = self.properties[name]
        delay = self.delays.get(name, 0)
        if delay:
            GLib.timeout_add(int(delay * 1000), lambda: reply(value) and False)
        else:
            reply(value)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        config = json.load(f)
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    address = os.environ["DBUS_SESSION_BUS_ADDRESS"]
    keep = []
    for player in config:
        connection = dbus.bus.BusConnection(address)
        keep.append((connection, Player(connection, player), dbus.service.BusName(player["name"], connection)))
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
