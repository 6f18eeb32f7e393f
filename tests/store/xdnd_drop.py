"""Drops files onto an X window the way a Linux file manager does: the source side of
the XDND protocol, offering a text/uri-list of file:// URIs.

Wine's X11 driver answers XDND on the X windows of its top-level windows. For a window
that accepts dropped files and has no OLE drop target it posts WM_DROPFILES to that
window, with the URIs turned into Windows paths (Linux paths land on Z:). So a drop made
here reaches a program's WM_DROPFILES handler as a real drop from another program.

    result = drop_files(["/tmp/a.txt", "/tmp/folder"], 300, 200)

The pointer is not moved and no button is pressed: XDND runs on client messages and the
XdndSelection selection alone. Needs python3-xlib and DISPLAY.
"""

import os
import select
import sys
import time
import urllib.parse

try:
    from Xlib import X, Xatom, display as xdisplay
    from Xlib.protocol import event as xevent
except ImportError:  # an interpreter outside the system's own, without Debian's packages
    sys.path.append("/usr/lib/python3/dist-packages")
    from Xlib import X, Xatom, display as xdisplay
    from Xlib.protocol import event as xevent

# The protocol version offered; a target's XdndAware names the highest it speaks.
XDND_VERSION = 5


class XdndError(Exception):
    """The drop could not be made or the target refused it."""


def uri_list(paths):
    """The text/uri-list body for the given Linux paths (CR LF after each URI)."""
    lines = ["file://" + urllib.parse.quote(os.path.abspath(p)) for p in paths]
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


class _Source:
    def __init__(self, paths, display_name=None):
        self.display = xdisplay.Display(display_name)
        self.root = self.display.screen().root
        self.payload = uri_list(paths)
        atom = self.display.intern_atom
        self.atoms = {name: atom(name) for name in (
            "XdndAware", "XdndSelection", "XdndEnter", "XdndPosition", "XdndStatus",
            "XdndDrop", "XdndFinished", "XdndLeave", "XdndActionCopy", "XdndTypeList",
            "TARGETS", "text/uri-list")}
        self.window = self.root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent,
                                              X.InputOnly, X.CopyFromParent,
                                              override_redirect=True)
        self.window.change_property(self.atoms["XdndTypeList"], Xatom.ATOM, 32,
                                    [self.atoms["text/uri-list"]])
        self.window.set_selection_owner(self.atoms["XdndSelection"], X.CurrentTime)
        self.display.sync()
        owner = self.display.get_selection_owner(self.atoms["XdndSelection"])
        if owner.id != self.window.id:
            raise XdndError("could not own the XdndSelection selection")
        self.requests = []

    def close(self):
        self.window.destroy()
        self.display.close()

    def aware_version(self, window):
        prop = window.get_full_property(self.atoms["XdndAware"], X.AnyPropertyType)
        if prop is None or not len(prop.value):
            return None
        return int(prop.value[0])

    def find_target(self, x, y):
        """The top-level XDND-aware window under the root point (x, y), with its version:
        the first one on the way down from the root, as the protocol asks."""
        window = self.root
        while True:
            child = window.translate_coords(self.root, x, y).child
            if child is None or child == X.NONE or getattr(child, "id", 0) == 0:
                return None
            version = self.aware_version(child)
            if version is not None:
                return child, version
            window = child

    def send(self, target, name, data):
        message = xevent.ClientMessage(window=target, client_type=self.atoms[name],
                                       data=(32, (list(data) + [0] * 5)[:5]))
        target.send_event(message, event_mask=X.NoEventMask, propagate=False)
        self.display.flush()

    def answer_selection(self, request):
        """Serves the URI list (or the list of targets) to the drop target."""
        property_atom = request.property if request.property != X.NONE else request.target
        if request.target == self.atoms["text/uri-list"]:
            request.requestor.change_property(property_atom, request.target, 8, self.payload)
        elif request.target == self.atoms["TARGETS"]:
            request.requestor.change_property(property_atom, Xatom.ATOM, 32,
                                              [self.atoms["TARGETS"],
                                               self.atoms["text/uri-list"]])
        else:
            property_atom = X.NONE
        self.requests.append(self.display.get_atom_name(request.target))
        notify = xevent.SelectionNotify(time=request.time, requestor=request.requestor,
                                        selection=request.selection, target=request.target,
                                        property=property_atom)
        request.requestor.send_event(notify, event_mask=X.NoEventMask, propagate=False)
        self.display.flush()

    def next_event(self, deadline):
        while not self.display.pending_events():
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            select.select([self.display.fileno()], [], [], min(left, 0.2))
        return self.display.next_event()


def drop_files(paths, x, y, timeout=10.0, display_name=None):
    """Drops the files at root point (x, y); returns a dict with the target window id,
    the action it accepted and the data types it asked for. Raises XdndError when no
    window there speaks XDND, the target refuses, or it does not finish in time."""
    source = _Source(paths, display_name)
    try:
        found = source.find_target(x, y)
        if found is None:
            raise XdndError("no XDND-aware window at %d,%d" % (x, y))
        target, version = found
        version = min(version, XDND_VERSION)
        window_id = source.window.id
        uri = source.atoms["text/uri-list"]
        source.send(target, "XdndEnter", [window_id, version << 24, uri, 0, 0])
        source.send(target, "XdndPosition",
                    [window_id, 0, (x << 16) | y, X.CurrentTime, source.atoms["XdndActionCopy"]])
        deadline = time.monotonic() + timeout
        result = {"target": target.id, "version": version, "accepted": None}
        dropped = False
        while True:
            event = source.next_event(deadline)
            if event is None:
                raise XdndError("no %s from the target within %.0f s (asked for %r)"
                                % ("XdndFinished" if dropped else "XdndStatus", timeout,
                                   source.requests))
            if event.type == X.SelectionRequest:
                source.answer_selection(event)
            elif event.type == X.ClientMessage:
                kind = event.client_type
                data = event.data[1]
                if kind == source.atoms["XdndStatus"] and not dropped:
                    result["accepted"] = bool(data[1] & 1)
                    result["action"] = (source.display.get_atom_name(data[4])
                                        if data[4] else None)
                    if not result["accepted"]:
                        source.send(target, "XdndLeave", [window_id])
                        raise XdndError("the target refused the drop: %r" % (result,))
                    source.send(target, "XdndDrop", [window_id, 0, X.CurrentTime])
                    dropped = True
                elif kind == source.atoms["XdndFinished"] and dropped:
                    result["requested"] = source.requests
                    return result
    finally:
        source.close()


if __name__ == "__main__":
    if len(sys.argv) < 4:
        print("usage: xdnd_drop.py X Y PATH...", file=sys.stderr)
        sys.exit(2)
    print(drop_files(sys.argv[3:], int(sys.argv[1]), int(sys.argv[2])))
