'''Desktop session services on the session bus, for the idle and screen-lock
tests: the freedesktop screensaver (always), and on request the GNOME
screensaver and GNOME's Mutter idle monitor.

Parameters:
  screensaverIdleMs: GetSessionIdleTime answers this many milliseconds
                     (absent: the method does not exist)
  gnome:             true to also serve org.gnome.ScreenSaver
  mutterIdleMs:      serve org.gnome.Mutter.IdleMonitor answering this many
                     milliseconds (absent: the service does not exist)
'''

import dbus
import dbus.service

BUS_NAME = 'org.freedesktop.ScreenSaver'
MAIN_OBJ = '/org/freedesktop/ScreenSaver'
MAIN_IFACE = 'org.freedesktop.ScreenSaver'
SYSTEM_BUS = False

# Extra bus names live as long as the mock.
_names = []


def _claim(mock, name):
    _names.append(dbus.service.BusName(name, mock.bus_name.get_bus(), allow_replacement=True,
                                       replace_existing=True, do_not_queue=True))


# Each extra name is claimed only once its object is in place, so a test that
# waits for the name finds the service complete.
def load(mock, parameters):
    methods = [('GetActive', '', 'b', 'ret = False')]
    if 'screensaverIdleMs' in parameters:
        methods.append(('GetSessionIdleTime', '', 'u',
                        f'ret = dbus.UInt32({int(parameters["screensaverIdleMs"])})'))
    mock.AddMethods(MAIN_IFACE, methods)

    if parameters.get('gnome'):
        mock.AddObject('/org/gnome/ScreenSaver', 'org.gnome.ScreenSaver', {},
                       [('GetActive', '', 'b', 'ret = False')])
        _claim(mock, 'org.gnome.ScreenSaver')

    if 'mutterIdleMs' in parameters:
        mock.AddObject('/org/gnome/Mutter/IdleMonitor/Core', 'org.gnome.Mutter.IdleMonitor', {},
                       [('GetIdletime', '', 't', f'ret = dbus.UInt64({int(parameters["mutterIdleMs"])})')])
        _claim(mock, 'org.gnome.Mutter.IdleMonitor')
