'''fprintd mock template

A fingerprint daemon (net.reactivated.Fprint) with one sensor, behaving like
fprintd 1.94: a device belongs to the connection that claimed it, a second
Claim from another connection fails with AlreadyInUse, and the claim goes away
when its connection closes. Verification outcomes are scripted by the test
through the mock interface on the manager object:

  SetDevicePresent(b)         false: GetDefaultDevice fails with NoSuchDevice
  SetEnrolledFingers(as)      fingers ListEnrolledFingers reports
  SetPermissionDenied(b)      true: polkit refuses ListEnrolledFingers and Claim
  QueueVerifyStatus(a(sb))    VerifyStatus signals to emit; each VerifyStart
                              emits queued entries up to the first one done
  GetClaimant() -> s          unique name holding the claim, '' when free
  GetVerifyStarts() -> i      number of accepted VerifyStart calls
'''

import os
import sys

import dbus
import dbus.service
from gi.repository import GLib
from dbusmock import MOCK_IFACE, mockobject

# dbusmock loads templates by path; their shared helpers sit beside them
# (no bytecode cache written into the source tree).
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sender_methods import add_sender_method  # noqa: E402

BUS_NAME = 'net.reactivated.Fprint'
MAIN_OBJ = '/net/reactivated/Fprint/Manager'
MAIN_IFACE = 'net.reactivated.Fprint.Manager'
SYSTEM_BUS = True

DEVICE_PATH = '/net/reactivated/Fprint/Device/0'
DEVICE_IFACE = 'net.reactivated.Fprint.Device'
ERROR = 'net.reactivated.Fprint.Error.'

# Delay between VerifyStart's reply and each scripted status, in ms.
STATUS_DELAY_MS = 20


def _error(name, message):
    return dbus.exceptions.DBusException(message, name=ERROR + name)


def _device():
    return mockobject.objects[DEVICE_PATH]


def load(mock, parameters):
    mock.device_present = parameters.get('device_present', True)
    mock.enrolled = list(parameters.get('enrolled', ['right-index-finger']))
    mock.permission_denied = False
    mock.status_queue = []
    mock.claimant = ''
    mock.claim_watch = None
    mock.verifying = False
    mock.verify_starts = 0

    mock.AddObject(DEVICE_PATH, DEVICE_IFACE, {
        'name': dbus.String('Mock Fingerprint Sensor'),
        'num-enroll-stages': dbus.Int32(5),
        'scan-type': dbus.String('press'),
        'finger-present': dbus.Boolean(False),
        'finger-needed': dbus.Boolean(False),
    }, [])
    device = _device()

    def get_default_device(_self, sender=None):
        if not mock.device_present:
            raise _error('NoSuchDevice', 'No devices available')
        return dbus.ObjectPath(DEVICE_PATH)

    def get_devices(_self, sender=None):
        return dbus.Array([dbus.ObjectPath(DEVICE_PATH)] if mock.device_present else [],
                          signature='o')

    add_sender_method(mock, MAIN_IFACE, 'GetDefaultDevice', '', 'o', get_default_device)
    add_sender_method(mock, MAIN_IFACE, 'GetDevices', '', 'ao', get_devices)

    def check_present():
        if not mock.device_present:
            raise dbus.exceptions.DBusException(
                'Unknown object', name='org.freedesktop.DBus.Error.UnknownMethod')

    def check_claimed(sender):
        if mock.claimant == '':
            raise _error('ClaimDevice', 'Device was not claimed before use')
        if mock.claimant != sender:
            raise _error('AlreadyInUse', 'Device already in use by another user')

    def release_claim():
        if mock.claim_watch is not None:
            mock.claim_watch.cancel()
            mock.claim_watch = None
        mock.claimant = ''
        mock.verifying = False

    def list_enrolled_fingers(_self, username, sender=None):
        check_present()
        if mock.permission_denied:
            raise _error('PermissionDenied', 'Not Authorized: net.reactivated.fprint.device.verify')
        if not mock.enrolled:
            raise _error('NoEnrolledPrints', 'Failed to discover prints')
        return dbus.Array(mock.enrolled, signature='s')

    def claim(_self, username, sender=None):
        check_present()
        if mock.permission_denied:
            raise _error('PermissionDenied', 'Not Authorized: net.reactivated.fprint.device.verify')
        if mock.claimant != '':
            raise _error('AlreadyInUse', 'Device already in use by another user')
        mock.claimant = sender

        def on_owner_changed(new_owner):
            # The claimant's connection closed: fprintd releases the device.
            if new_owner == '' and mock.claimant == sender:
                release_claim()

        mock.claim_watch = mock.connection.watch_name_owner(sender, on_owner_changed)

    def release(_self, sender=None):
        check_present()
        check_claimed(sender)
        release_claim()

    def emit_next_status():
        if not mock.verifying or not mock.status_queue:
            return False
        result, done = mock.status_queue.pop(0)
        device.EmitSignal(DEVICE_IFACE, 'VerifyStatus', 'sb',
                          [dbus.String(result), dbus.Boolean(done)])
        if done:
            mock.verifying = False
            return False
        return True

    def verify_start(_self, finger, sender=None):
        check_present()
        check_claimed(sender)
        if mock.verifying:
            raise _error('AlreadyInUse', 'Verification already in progress')
        if not mock.enrolled:
            raise _error('NoEnrolledPrints', 'No fingers enrolled')
        mock.verifying = True
        mock.verify_starts += 1
        GLib.timeout_add(STATUS_DELAY_MS, emit_next_status)

    def verify_stop(_self, sender=None):
        check_present()
        check_claimed(sender)
        mock.verifying = False

    add_sender_method(device, DEVICE_IFACE, 'ListEnrolledFingers', 's', 'as',
                       list_enrolled_fingers)
    add_sender_method(device, DEVICE_IFACE, 'Claim', 's', '', claim)
    add_sender_method(device, DEVICE_IFACE, 'Release', '', '', release)
    add_sender_method(device, DEVICE_IFACE, 'VerifyStart', 's', '', verify_start)
    add_sender_method(device, DEVICE_IFACE, 'VerifyStop', '', '', verify_stop)


@dbus.service.method(MOCK_IFACE, in_signature='b', out_signature='')
def SetDevicePresent(self, present):
    self.device_present = bool(present)


@dbus.service.method(MOCK_IFACE, in_signature='as', out_signature='')
def SetEnrolledFingers(self, fingers):
    self.enrolled = [str(f) for f in fingers]


@dbus.service.method(MOCK_IFACE, in_signature='b', out_signature='')
def SetPermissionDenied(self, denied):
    self.permission_denied = bool(denied)


@dbus.service.method(MOCK_IFACE, in_signature='a(sb)', out_signature='')
def QueueVerifyStatus(self, statuses):
    self.status_queue.extend((str(r), bool(d)) for r, d in statuses)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='s')
def GetClaimant(self):
    return self.claimant


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='i')
def GetVerifyStarts(self):
    return self.verify_starts
