#!/usr/bin/python3
# A stand-in for the desktop portal's Email interface on a private session
# bus: records the options of ComposeEmail (reading attachment descriptors
# whole), and the caller's command line as every local user can read it in
# /proc (under "caller_cmdline", its words), as JSON to RECORD, then
# answers as RECORD.answer says, read at each call ("ANSWER [DELAY]"): as
# ANSWER says, DELAY seconds later (default 0):
#   "0", "1", "2"  that code as the request's Response signal (the KDE
#                  backend answers 1 for a started client, the GTK one 0)
#   "deny"         an AccessDenied error instead of a request
#   "silent"       the request, but never a Response
#   "mute"         no reply to the call at all
# The request object takes Close as the real portal's does: the call is
# recorded by creating RECORD.closed, and no Response follows it.
# Started by tests/portal_test.cpp under dbus-run-session, once for all the
# calls of a test; bench/bench.sh times the sandbox routes against it too,
# so a change of its command line or answer file is made there as well.
#
#   portal.py RECORD
import json
import os
import sys

import dbus
import dbus.lowlevel
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

record = sys.argv[1]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()


def read_all(fd):
    data = b""
    while chunk := os.read(fd, 65536):
        data += chunk
    os.close(fd)
    return data.decode()


class Request(dbus.service.Object):
    def __init__(self, path, answer):
        super().__init__(bus, path)
        self.path = path
        self.answer = answer
        self.closed = False

    @dbus.service.method("org.freedesktop.portal.Request")
    def Close(self):
        self.closed = True
        open(record + ".closed", "w").close()
        self.remove_from_connection()

    def respond(self):
        if not self.closed:
            signal = dbus.lowlevel.SignalMessage(self.path, "org.freedesktop.portal.Request", "Response")
            signal.append(dbus.UInt32(int(self.answer)), dbus.Dictionary({}, signature="sv"), signature="ua{sv}")
            bus.send_message(signal)
        return False


class Portal(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Email", in_signature="sa{sv}", out_signature="o",
                         sender_keyword="sender", async_callbacks=("reply", "error"))
    def ComposeEmail(self, parent, options, sender, reply, error):
        with open(record + ".answer") as told:
            words = told.read().split()
        answer, delay_ms = words[0], int(float(words[1]) * 1000) if len(words) > 1 else 0
        recorded = {"parent_window": str(parent)}
        caller = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
        pid = int(caller.GetConnectionUnixProcessID(sender, dbus_interface="org.freedesktop.DBus"))
        with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
            recorded["caller_cmdline"] = [word.decode("utf-8", "replace") for word in cmdline.read().split(b"\0")[:-1]]
        for key, value in options.items():
            if key == "attachment_fds":
                recorded[key] = [read_all(fd.take()) for fd in value]
            else:
                recorded[key] = str(value)
        with open(record, "w") as out:
            json.dump(recorded, out)
        token = str(options.get("handle_token", "t"))
        path = "/org/freedesktop/portal/desktop/request/" + sender[1:].replace(".", "_") + "/" + token
        request = Request(path, answer)
        if answer == "mute":
            return
        if answer == "deny":
            error(dbus.exceptions.DBusException("Not allowed", name="org.freedesktop.DBus.Error.AccessDenied"))
            return
        reply(dbus.ObjectPath(path))
        if answer != "silent":
            GLib.timeout_add(delay_ms, request.respond)


name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
Portal(bus, "/org/freedesktop/portal/desktop")
GLib.MainLoop().run()
