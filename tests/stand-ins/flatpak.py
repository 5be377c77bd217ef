#!/usr/bin/python3
# A stand-in for the Flatpak session service's Development interface on a
# private session bus: HostCommand records what it was asked as JSON to
# RECORD (the argument vector, the working directory, the descriptors' target
# numbers, the environment entries and the flags), then acts as MODE says:
#   "run"     starts the command as the real service does (its own session,
#             each descriptor at its number, this process's environment plus
#             the ones given) and, once it ends, sends HostCommandExited with
#             its wait status to the caller alone
#   "refuse"  answers the error the service gives for a command it cannot
#             start (FileNotFound); nothing runs
#   "die"     starts the command, answers its pid and leaves the bus at once:
#             no end is ever announced
# HostCommandSignal(pid, signal, to_process_group) is carried out for a
# command of the caller's and recorded in RECORD.signals. Started by
# tests/host_command_test.cpp under dbus-run-session, and by bench/bench.sh
# (which times the Flatpak route against it: a change of its command line
# is made there as well).
#
#   flatpak.py RECORD MODE
import json
import os
import sys

import dbus
import dbus.lowlevel
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

record, mode = sys.argv[1], sys.argv[2]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
PATH = "/org/freedesktop/Flatpak/Development"
INTERFACE = "org.freedesktop.Flatpak.Development"
callers = {}


def text(byte_string):
    data = bytes(byte_string)
    return data[:-1].decode("utf-8", "surrogateescape") if data.endswith(b"\0") else None


def start(cwd, argv, fds, envs):
    environment = dict(os.environ)
    environment.update(envs)
    # Above every target, so that no target overwrites a source.
    sources = {target: os.dup2(fd, 200 + target, inheritable=False) for target, fd in fds.items()}
    pid = os.fork()
    if pid == 0:
        try:
            for target, fd in sources.items():
                os.dup2(fd, target, inheritable=True)
            os.setsid()
            if cwd:
                os.chdir(cwd)
            os.execvpe(argv[0], argv, environment)
        finally:
            os._exit(127)
    for fd in sources.values():
        os.close(fd)
    return pid


def announce_end(pid, status, caller):
    signal = dbus.lowlevel.SignalMessage(PATH, INTERFACE, "HostCommandExited")
    signal.set_destination(caller)
    signal.append(dbus.UInt32(pid), dbus.UInt32(status), signature="uu")
    bus.send_message(signal)
    callers.pop(pid, None)


class Development(dbus.service.Object):
    @dbus.service.method(INTERFACE, in_signature="ayaaya{uh}a{ss}u", out_signature="u", sender_keyword="sender")
    def HostCommand(self, cwd, argv, fds, envs, flags, sender):
        argv = [text(word) for word in argv]
        taken = {int(target): handle.take() for target, handle in fds.items()}
        with open(record, "w") as out:
            json.dump({"cwd": text(cwd), "argv": argv, "fds": sorted(taken), "envs": dict(envs),
                       "flags": int(flags)}, out)
        if mode == "refuse" or None in argv:
            raise dbus.exceptions.DBusException("Failed to start command",
                                                name="org.freedesktop.DBus.Error.FileNotFound")
        pid = start(text(cwd), argv, taken, envs)
        for fd in taken.values():
            os.close(fd)
        callers[pid] = sender
        if mode == "die":
            GLib.idle_add(leave)
        else:
            GLib.child_watch_add(GLib.PRIORITY_DEFAULT, pid, lambda p, status: announce_end(p, status, sender))
        return dbus.UInt32(pid)

    @dbus.service.method(INTERFACE, in_signature="uub", sender_keyword="sender")
    def HostCommandSignal(self, pid, number, to_process_group, sender):
        if callers.get(int(pid)) != sender:
            raise dbus.exceptions.DBusException("No such pid", name="org.freedesktop.DBus.Error.UnixProcessIdUnknown")
        with open(record + ".signals", "a") as out:
            out.write("%d %d\n" % (int(number), bool(to_process_group)))
        (os.killpg if to_process_group else os.kill)(int(pid), int(number))


def leave():
    bus.flush()
    os._exit(0)


name = dbus.service.BusName("org.freedesktop.Flatpak", bus)
Development(bus, PATH)
GLib.MainLoop().run()
