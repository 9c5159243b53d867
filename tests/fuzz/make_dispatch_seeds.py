#!/usr/bin/env python3
"""Writes the dispatch fuzzer's seeds (tests/fuzz/seeds/dispatch/) from the
calls the JScript suites make, in the input format described at the top of
tests/fuzz/DispatchFuzzer.cpp. Run it from anywhere after changing a call."""
import os
import struct

# Objects at the start of every input, in the class table's order.
COUNTER, OBJECT, COUNTERS, OBJECTS, MGR, INSTANCE, INSTANCES = range(7)
GET, PUT = 3, 4  # a script's property read (method or get) and property write
PROPERTYPUT = 0xFF


def i4(v): return bytes([3]) + struct.pack('<i', v)
def r8(v): return bytes([5]) + struct.pack('<d', v)
def date(v): return bytes([7]) + struct.pack('<d', v)
def text(s): return bytes([8, len(s)]) + s.encode('latin-1')
def boolean(v): return bytes([11]) + struct.pack('<h', -1 if v else 0)
def obj(k): return bytes([9, k + 2])
FOREIGN = bytes([27])
MISSING = bytes([26])
def blob(data): return bytes([0x40 | 17, 1, len(data), 0]) + bytes(data)


class Script:
    """Tracks which object index each returned object gets."""

    def __init__(self):
        self.out = b''
        self.count = 7

    def call(self, target, member, flags, args=(), put=False, returns=False):
        named = 1 if put else 0
        self.out += bytes([target, member + 4, flags, len(args) | (named << 4)])
        if put:
            self.out += bytes([PROPERTYPUT])
        for a in args:
            self.out += a
        if returns:
            self.count += 1
            return self.count - 1

    def get(self, target, member, *args, returns=False):
        return self.call(target, member, GET, args, returns=returns)

    def set(self, target, member, *args):
        return self.call(target, member, PUT, args, put=True)


seeds = {}

def seed(name):
    def wrap(build):
        s = Script()
        build(s)
        seeds[name] = s.out
    return wrap

@seed('counters_fill')
def _(s):
    first = s.get(COUNTERS, 8, i4(1), returns=True)
    s.set(first, 6, text('Requests'))
    s.set(first, 7, text('Requests per second'))
    s.set(first, 5, i4(42))
    s.set(first, 8, i4(-1))
    s.set(first, 9, i4(272696576))
    s.set(first, 10, i4(8))
    s.set(first, 12, text('avg'))
    second = s.get(COUNTERS, 8, i4(2), returns=True)
    s.set(second, 5, r8(2.5))
    s.get(COUNTERS, 1)
    s.get(COUNTERS, 2, i4(1))
    s.get(COUNTERS, 10, text('LOAD'))
    s.get(COUNTERS, 0, i4(1))

@seed('blob_round_trip')
def _(s):
    c = s.get(COUNTERS, 8, i4(1), returns=True)
    s.set(c, 6, text('Requests'))
    s.get(COUNTERS, 9, i4(1))
    s.get(COUNTERS, 9, i4(0))
    s.set(COUNTERS, 9, i4(0), blob([4, 0, 8, 0, 0, 0, 0, 0]))
    s.set(INSTANCES, 9, i4(1), text('\x04\x00'))

@seed('live_tree')
def _(s):
    objects = s.get(MGR, 5, returns=True)
    sessions = s.get(objects, 8, i4(2), returns=True)
    s.set(sessions, 5, text('Sessions'))
    s.set(sessions, 10, boolean(True))
    s.set(sessions, 11, boolean(True))
    s.set(sessions, 9, i4(60))
    counters = s.get(sessions, 6, returns=True)
    latency = s.get(counters, 8, i4(6), returns=True)
    s.set(latency, 12, text('avg'))
    instance = s.get(sessions, 13, text('one'), returns=True)
    s.set(instance, 7, date(45000.5))
    s.get(sessions, 14)
    s.get(MGR, 15)
    s.get(MGR, 16)
    s.get(MGR, 10)
    s.get(MGR, 13, obj(MGR))
    s.get(MGR, 4, obj(MGR))

@seed('create_every_class')
def _(s):
    s.set(MGR, 1, i4(12))
    s.get(MGR, 1)
    s.get(MGR, 5)
    s.get(OBJECT, 6)
    s.get(OBJECT, 8)
    s.get(INSTANCE, 6)
    s.get(MGR, 117)

@seed('manager_members')
def _(s):
    for member in (7, 9, 11, 12, 14):
        s.get(MGR, member)
    s.set(MGR, 12, i4(30))
    s.get(MGR, 6, text(''))
    s.get(MGR, 8, text(''))

@seed('hostile_arguments')
def _(s):
    s.get(OBJECTS, 7, FOREIGN)
    s.get(OBJECTS, 6, FOREIGN)
    s.get(COUNTERS, 6, obj(OBJECT))
    s.get(INSTANCES, 6, obj(INSTANCE))
    s.get(MGR, 13, FOREIGN)
    s.get(COUNTER, 4, obj(MGR))
    s.set(COUNTER, 5, bytes([0x40 | 12, 2, 2, 0, 2, 1]) + i4(1) + text('x') + r8(1.0) + FOREIGN)
    s.set(COUNTER, 6, bytes([0x20 | 8, 3]) + b'abc')
    s.set(COUNTER, 5, bytes([0x80 | 14]) + bytes(16))
    s.get(OBJECTS, 8, MISSING)
    s.get(COUNTERS, -4)
    s.call(COUNTERS, -4, 1)

os.makedirs(os.path.join(os.path.dirname(__file__), 'seeds', 'dispatch'), exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(os.path.dirname(__file__), 'seeds', 'dispatch', name), 'wb') as f:
        f.write(data)
