#!/usr/bin/python3
"""A stand-in for the desktop's notification service, for the window's tests.

Run inside a private session bus (dbus-run-session): owns org.freedesktop.Notifications, records
every Notify, then runs the command given and ends with its status. The tests read what was sent and
invoke a notification's action through org.marlix.TestControl on the same object.
"""
import os
import subprocess
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IFACE = "org.freedesktop.Notifications"
CONTROL = "org.marlix.TestControl"


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.sent = []  # (id, replaces_id, summary, body, actions)
        self.next_id = 1

    @dbus.service.method(IFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        nid = replaces
        if not nid:
            nid, self.next_id = self.next_id, self.next_id + 1
        self.sent.append((dbus.UInt32(nid), dbus.UInt32(replaces), summary, body, "|".join(actions)))
        return nid

    @dbus.service.method(IFACE, out_signature="as")
    def GetCapabilities(self):
        return ["body", "actions"]

    @dbus.service.method(IFACE, out_signature="ssss")
    def GetServerInformation(self):
        return ("stand-in", "marlix tests", "1", "1.2")

    @dbus.service.method(IFACE, in_signature="u")
    def CloseNotification(self, nid):
        self.NotificationClosed(nid, 3)

    @dbus.service.signal(IFACE, signature="uu")
    def NotificationClosed(self, nid, reason):
        pass

    @dbus.service.signal(IFACE, signature="us")
    def ActionInvoked(self, nid, key):
        pass

    @dbus.service.method(CONTROL, out_signature="a(uusss)")
    def Sent(self):
        return self.sent

    @dbus.service.method(CONTROL, in_signature="us")
    def Invoke(self, nid, key):
        self.ActionInvoked(nid, key)


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(IFACE, bus)  # noqa: F841 (held while the loop runs)
    Notifications(bus)
    loop = GLib.MainLoop()
    child = subprocess.Popen(sys.argv[1:])
    status = []

    def ended(pid, code):
        status.append(code)
        loop.quit()

    GLib.child_watch_add(GLib.PRIORITY_DEFAULT, child.pid, ended)
    loop.run()
    code = os.waitstatus_to_exitcode(status[0]) if status else 1
    sys.exit(code if code >= 0 else 1)


if __name__ == "__main__":
    main()
