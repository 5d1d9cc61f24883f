#!/usr/bin/python3
"""A stand-in for fprintd on the session bus: one reader that keeps fprintd's rules (one claim at a
time, VerifyStart while claimed and not verifying, VerifyStop while verifying, Release by the
claimant). Through net.reactivated.Fprint.Test the test sets whether there is a reader, the enrolled
fingers and the next scans' results, and reads the calls made, each marked with '!' when refused."""

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

DEVICE_PATH = '/net/reactivated/Fprint/Device/0'
DEVICE = 'net.reactivated.Fprint.Device'
TEST = 'net.reactivated.Fprint.Test'
# Results after which the reader keeps scanning by itself; every other one ends the attempt.
NOT_DONE = {'verify-retry-scan', 'verify-swipe-too-short'}


def refuse(error):
    raise dbus.DBusException(error, name='net.reactivated.Fprint.Error.' + error)


class Fprintd(dbus.service.Object):
    SUPPORTS_MULTIPLE_OBJECT_PATHS = True  # the manager and its reader are one object

    def __init__(self, bus):
        super().__init__()
        for path in ('/net/reactivated/Fprint/Manager', DEVICE_PATH):
            self.add_to_connection(bus, path)
        self.SetReader(True, '', '')
        self.claimant = None
        self.verifying = False

    def called(self, method, refusal):
        self.log.append(method + ('!' if refusal else ''))
        if refusal:
            refuse(refusal)

    @dbus.service.method('net.reactivated.Fprint.Manager', out_signature='o')
    def GetDefaultDevice(self):
        return dbus.ObjectPath(DEVICE_PATH) if self.present else refuse('NoSuchDevice')

    @dbus.service.method(DEVICE, in_signature='s', out_signature='as')
    def ListEnrolledFingers(self, username):
        return dbus.Array(self.fingers, signature='s') if self.fingers else refuse('NoEnrolledPrints')

    @dbus.service.method(DEVICE, in_signature='s', sender_keyword='sender')
    def Claim(self, username, sender=None):
        self.called('Claim', 'AlreadyInUse' if self.claimant else None)
        self.claimant = sender

    @dbus.service.method(DEVICE, sender_keyword='sender')
    def Release(self, sender=None):
        self.called('Release', 'ClaimDevice' if sender != self.claimant else None)
        self.claimant = None
        self.verifying = False

    @dbus.service.method(DEVICE, in_signature='s', sender_keyword='sender')
    def VerifyStart(self, finger, sender=None):
        self.called('VerifyStart', 'ClaimDevice' if sender != self.claimant else 'AlreadyInUse' if self.verifying else None)
        self.verifying = True
        GLib.idle_add(self.scan)

    @dbus.service.method(DEVICE, sender_keyword='sender')
    def VerifyStop(self, sender=None):
        self.called('VerifyStop', 'ClaimDevice' if sender != self.claimant else None if self.verifying else 'NoActionInProgress')
        self.verifying = False

    @dbus.service.signal(DEVICE, signature='sb')
    def VerifyStatus(self, result, done):
        pass

    def scan(self):
        # One attempt's results, after VerifyStart has answered; with none left, it waits for a finger.
        while self.verifying and self.results:
            result = self.results.pop(0)
            self.VerifyStatus(result, result not in NOT_DONE)
            if result not in NOT_DONE:
                break
        return False

    @dbus.service.method(TEST, in_signature='bss')
    def SetReader(self, present, fingers, results):
        self.present = bool(present)
        self.fingers = str(fingers).split()
        self.results = str(results).split()
        self.log = []

    @dbus.service.method(TEST, out_signature='s')
    def Calls(self):
        return ' '.join(self.log)


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()  # which ends the program when the bus goes
fprintd = Fprintd(bus)
# The name last: once it is owned, every object answers.
name = dbus.service.BusName('net.reactivated.Fprint', bus)
print('ready', flush=True)
GLib.MainLoop().run()
