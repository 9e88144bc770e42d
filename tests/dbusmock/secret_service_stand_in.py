'''Secret Service stand-in template

Takes org.freedesktop.secrets in place of the keyring daemon and lists one
item in answer to every search, so that a test decides what happens to that
item, or to the service, while a client looks at it. Steered through the mock
interface on the service object:

  SetItemFate(s)   'kept': the item exists and deleting it works (the default);
                   'gone': listed, but it no longer exists when looked at;
                   'gone-when-deleted': it exists, but a delete finds it gone;
                   'exits-when-read': the service exits, without answering,
                   when asked for the item's properties;
                   'exits-when-deleted': the service exits, without
                   answering, when asked to delete the item
Once deleted, the item is no longer listed.
'''

import os
import sys

import dbus
import dbus.service
from dbusmock import MOCK_IFACE

# dbusmock loads templates by path; their shared helpers sit beside them
# (no bytecode cache written into the source tree).
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sender_methods import add_sender_method  # noqa: E402

BUS_NAME = 'org.freedesktop.secrets'
MAIN_OBJ = '/org/freedesktop/secrets'
MAIN_IFACE = 'org.freedesktop.Secret.Service'
SYSTEM_BUS = False

ITEM_PATH = '/org/freedesktop/secrets/collection/login/1'
ITEM_IFACE = 'org.freedesktop.Secret.Item'
NO_SUCH_OBJECT = 'org.freedesktop.Secret.Error.NoSuchObject'
UNKNOWN_OBJECT = 'org.freedesktop.DBus.Error.UnknownObject'


class Item(dbus.service.Object):
    '''The one item, with the properties a Secret Service client reads.'''

    # dbusmock's method lookup, which every object goes through, looks here
    # first; this object's methods are its own.
    interface = ITEM_IFACE
    methods = {}

    def __init__(self, bus_name, mock):
        super().__init__(bus_name, ITEM_PATH)
        self.mock = mock

    def _properties(self):
        if self.mock.fate in ('gone', 'deleted'):
            raise dbus.exceptions.DBusException('no such object', name=UNKNOWN_OBJECT)
        if self.mock.fate == 'exits-when-read':
            os._exit(0)
        return dbus.Dictionary({
            'Locked': dbus.Boolean(False),
            'Attributes': dbus.Dictionary(self.mock.attributes, signature='ss'),
            'Label': dbus.String('stand-in'),
            'Created': dbus.UInt64(1),
            'Modified': dbus.UInt64(1),
        }, signature='sv')

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='s', out_signature='a{sv}')
    def GetAll(self, _interface):
        return self._properties()

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='ss', out_signature='v')
    def Get(self, _interface, name):
        return self._properties()[name]

    @dbus.service.method(ITEM_IFACE, in_signature='', out_signature='o')
    def Delete(self):
        if self.mock.fate == 'exits-when-deleted':
            os._exit(0)
        if self.mock.fate != 'kept':
            raise dbus.exceptions.DBusException('no such item', name=NO_SUCH_OBJECT)
        self.mock.fate = 'deleted'
        return dbus.ObjectPath('/')


def load(mock, parameters):
    mock.fate = 'kept'
    mock.attributes = {}
    mock.AddProperties(MAIN_IFACE, {'Collections': dbus.Array([], signature='o')})
    mock.item = Item(mock.bus_name, mock)

    def search_items(_self, attributes, sender=None):
        # The item has whatever was asked for.
        mock.attributes = dict(attributes)
        listed = [] if mock.fate == 'deleted' else [ITEM_PATH]
        return (dbus.Array(listed, signature='o'), dbus.Array([], signature='o'))

    add_sender_method(mock, MAIN_IFACE, 'SearchItems', 'a{ss}', 'aoao', search_items)


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def SetItemFate(self, fate):
    self.fate = str(fate)
