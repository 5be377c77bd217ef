#!/usr/bin/python3
# A stand-in for the desktop portal's Email interface on a private session
# bus: records the options of ComposeEmail (reading attachment descriptors
# whole) as JSON to RECORD, then answers as ANSWER says: a response code
# ("0", "1", "2") sent as the request's Response signal, or "deny" for an
# AccessDenied error. Started by tests/portal_test.cpp under dbus-run-session.
#
#   portal.py RECORD ANSWER
import json
import os
import sys

import dbus
import dbus.lowlevel
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

record, answer = sys.argv[1], sys.argv[2]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()


def read_all(fd):
    data = b""
    while chunk := os.read(fd, 65536):
        data += chunk
    os.close(fd)
    return data.decode()


class Portal(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Email", in_signature="sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def ComposeEmail(self, parent, options, sender):
        recorded = {"parent_window": str(parent)}
        for key, value in options.items():
            if key == "attachment_fds":
                recorded[key] = [read_all(fd.take()) for fd in value]
            else:
                recorded[key] = str(value)
        with open(record, "w") as out:
            json.dump(recorded, out)
        if answer == "deny":
            raise dbus.exceptions.DBusException("Not allowed", name="org.freedesktop.DBus.Error.AccessDenied")
        token = str(options.get("handle_token", "t"))
        path = "/org/freedesktop/portal/desktop/request/" + sender[1:].replace(".", "_") + "/" + token
        GLib.idle_add(self.respond, path)
        return dbus.ObjectPath(path)

    def respond(self, path):
        signal = dbus.lowlevel.SignalMessage(path, "org.freedesktop.portal.Request", "Response")
        signal.append(dbus.UInt32(int(answer)), dbus.Dictionary({}, signature="sv"), signature="ua{sv}")
        bus.send_message(signal)
        return False


name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
Portal(bus, "/org/freedesktop/portal/desktop")
GLib.MainLoop().run()
