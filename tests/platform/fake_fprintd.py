#!/usr/bin/python3
"""A stand-in for fprintd on a test's own message bus (the address is the first argument).

One reader at /net/reactivated/Fprint/Device/0 that keeps fprintd's rules: one claim at a time,
VerifyStart only while claimed, VerifyStop before the next VerifyStart, Release only by the
claimant. The test drives it through net.reactivated.Fprint.Test on the manager's path: the
enrolled fingers, whether there is a reader, a finger on the reader (a VerifyStatus signal), and
the log of the device calls.
"""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BUS_NAME = 'net.reactivated.Fprint'
MANAGER_PATH = '/net/reactivated/Fprint/Manager'
DEVICE_PATH = '/net/reactivated/Fprint/Device/0'
MANAGER = 'net.reactivated.Fprint.Manager'
DEVICE = 'net.reactivated.Fprint.Device'
CONTROL = 'net.reactivated.Fprint.Test'


class FprintError(dbus.DBusException):
    def __init__(self, name, message):
        super().__init__(message, name='net.reactivated.Fprint.Error.' + name)


class Device(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, DEVICE_PATH)
        self.fingers = []
        self.claimant = None
        # A verification started and not yet stopped; listening while it waits for a finger.
        self.verifying = False
        self.listening = False
        self.log = []

    def _own(self, sender):
        if self.claimant is None or self.claimant != sender:
            raise FprintError('ClaimDevice', 'the device is not claimed by this caller')

    @dbus.service.method(DEVICE, in_signature='s', out_signature='as')
    def ListEnrolledFingers(self, username):
        if not self.fingers:
            raise FprintError('NoEnrolledPrints', 'no fingers enrolled')
        return dbus.Array(self.fingers, signature='s')

    @dbus.service.method(DEVICE, in_signature='s', sender_keyword='sender')
    def Claim(self, username, sender=None):
        self.log.append('Claim')
        if self.claimant is not None:
            raise FprintError('AlreadyInUse', 'the device is already claimed')
        self.claimant = sender

    @dbus.service.method(DEVICE, sender_keyword='sender')
    def Release(self, sender=None):
        self.log.append('Release')
        self._own(sender)
        self.claimant = None
        self.verifying = False
        self.listening = False

    @dbus.service.method(DEVICE, in_signature='s', sender_keyword='sender')
    def VerifyStart(self, finger, sender=None):
        self.log.append('VerifyStart')
        self._own(sender)
        if self.verifying:
            raise FprintError('AlreadyInUse', 'a verification is in progress')
        if not self.fingers:
            raise FprintError('NoEnrolledPrints', 'no fingers enrolled')
        self.verifying = True
        self.listening = True
        self.VerifyFingerSelected('any')

    @dbus.service.method(DEVICE, sender_keyword='sender')
    def VerifyStop(self, sender=None):
        self.log.append('VerifyStop')
        self._own(sender)
        if not self.verifying:
            raise FprintError('NoActionInProgress', 'no verification in progress')
        self.verifying = False
        self.listening = False

    @dbus.service.signal(DEVICE, signature='sb')
    def VerifyStatus(self, result, done):
        pass

    @dbus.service.signal(DEVICE, signature='s')
    def VerifyFingerSelected(self, finger):
        pass


class Manager(dbus.service.Object):
    def __init__(self, bus, device):
        super().__init__(bus, MANAGER_PATH)
        self.device = device
        self.present = True

    @dbus.service.method(MANAGER, out_signature='o')
    def GetDefaultDevice(self):
        if not self.present:
            raise FprintError('NoSuchDevice', 'no devices available')
        return dbus.ObjectPath(DEVICE_PATH)

    @dbus.service.method(MANAGER, out_signature='ao')
    def GetDevices(self):
        return dbus.Array([DEVICE_PATH] if self.present else [], signature='o')

    @dbus.service.method(CONTROL, in_signature='bas')
    def SetReader(self, present, fingers):
        self.present = bool(present)
        self.device.fingers = [str(finger) for finger in fingers]

    @dbus.service.method(CONTROL, in_signature='sb')
    def Touch(self, result, done):
        if not self.device.listening:
            raise dbus.DBusException('no verification waits for a finger', name='net.reactivated.Fprint.Test.NotListening')
        # A finished attempt waits for VerifyStop, as fprintd's does.
        if done:
            self.device.listening = False
        self.device.VerifyStatus(result, done)

    # The device calls so far, whether it is claimed, whether a verification waits for a finger.
    @dbus.service.method(CONTROL, out_signature='asbb')
    def State(self):
        return dbus.Array(self.device.log, signature='s'), self.device.claimant is not None, self.device.listening

    @dbus.service.method(CONTROL)
    def ClearLog(self):
        self.device.log = []


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    device = Device(bus)
    Manager(bus, device)
    # The name last: once it is owned, every object answers.
    name = dbus.service.BusName(BUS_NAME, bus)
    loop = GLib.MainLoop()
    bus.call_on_disconnection(lambda connection: loop.quit())
    loop.run()
    del name


if __name__ == '__main__':
    main()
