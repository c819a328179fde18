#!/usr/bin/python3
# Prints every _NET_WM_STATE that any client writes on any window of the X
# display, one line per write: the window (decimal) and the state's atoms.
# A window manager may replace what a client asked for (one that does not
# keep windows above wipes that state at once), so the requests are recorded
# as they reach the server (RECORD extension) rather than read back.
import struct

from Xlib import display
from Xlib.ext import record

CHANGE_PROPERTY = 18

control = display.Display()
recording = display.Display()
net_wm_state = control.intern_atom('_NET_WM_STATE')
context = recording.record_create_context(0, [record.AllClients], [{
    'core_requests': (CHANGE_PROPERTY, CHANGE_PROPERTY), 'core_replies': (0, 0),
    'ext_requests': (0, 0, 0, 0), 'ext_replies': (0, 0, 0, 0), 'delivered_events': (0, 0),
    'device_events': (0, 0), 'errors': (0, 0), 'client_started': False, 'client_died': False}])


def seen(reply):
    if reply.category != record.FromClient or len(reply.data) < 24:
        return
    opcode, = struct.unpack_from('=B', reply.data, 0)
    window, prop, _, unit = struct.unpack_from('=IIIB', reply.data, 4)
    count, = struct.unpack_from('=I', reply.data, 20)
    if opcode != CHANGE_PROPERTY or prop != net_wm_state or unit != 32:
        return
    atoms = struct.unpack_from('=%dI' % count, reply.data, 24)
    print(window, ' '.join(control.get_atom_name(a) for a in atoms), flush=True)


print('recording', flush=True)
recording.record_enable_context(context, seen)
