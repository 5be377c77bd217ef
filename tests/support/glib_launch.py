#!/usr/bin/python3
"""Launches every desktop entry of a directory with GLib, the URI given, and
prints what each started as one JSON object: file name -> the recorded
arguments (the program's name first), or null where GLib launches nothing.

    glib_launch.py ENTRIES_DIR BIN_DIR RECORD_DIR URI

BIN_DIR is the whole PATH; its programs record their arguments in the file
$RECORD names. Exits 3 when GLib's introspection data is not installed.
"""
import json
import os
import sys

try:
    import gi
    gi.require_version("Gio", "2.0")
    from gi.repository import Gio, GLib
except (ImportError, ValueError):
    sys.exit(3)


def launch(path, record, uri):
    try:
        info = Gio.DesktopAppInfo.new_from_filename(path)
    except TypeError:  # the constructor returned NULL: no entry GLib uses
        return None
    if info is None:
        return None
    context = Gio.AppLaunchContext()
    context.setenv("RECORD", record)
    pids = []
    try:
        info.launch_uris_as_manager(
            [uri], context, GLib.SpawnFlags.SEARCH_PATH | GLib.SpawnFlags.DO_NOT_REAP_CHILD,
            None, None, lambda _info, pid, _data: pids.append(pid), None)
    except GLib.Error:
        return None
    for pid in pids:
        os.waitpid(pid, 0)
    if not os.path.exists(record):
        return None
    with open(record, "rb") as f:
        return [word.decode("utf-8", "surrogateescape") for word in f.read().split(b"\0")[:-1]]


def main():
    entries, bin_dir, records, uri = sys.argv[1:5]
    os.environ["PATH"] = bin_dir
    started = {}
    for name in sorted(os.listdir(entries)):
        if name.endswith(".desktop"):
            started[name] = launch(os.path.join(entries, name), os.path.join(records, name), uri)
    print(json.dumps(started))


main()
