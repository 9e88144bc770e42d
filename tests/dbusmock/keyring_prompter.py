'''keyring prompter mock template

The system prompter gnome-keyring asks to show its password dialogs
(org.gnome.keyring.SystemPrompter on the session bus), standing in for the
dialog a person would answer. It never hands out a password: each dialog is
either cancelled at once or left unanswered, as the test chooses through the
mock interface on the prompter object:

  SetAnswer(s)        'no': cancel every dialog (the default);
                      '': leave every dialog showing, never answered
  AnswerShown(s)      answers, late, the dialogs left showing ('no': cancel)
  GetPromptCount() -> i
                      dialogs shown so far (PerformPrompt calls)
'''

import base64
import os
import secrets
import sys

import dbus
import dbus.service
from gi.repository import GLib
from dbusmock import MOCK_IFACE

# dbusmock loads templates by path; their shared helpers sit beside them
# (no bytecode cache written into the source tree).
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sender_methods import add_sender_method  # noqa: E402

BUS_NAME = 'org.gnome.keyring.SystemPrompter'
MAIN_OBJ = '/org/gnome/keyring/Prompter'
MAIN_IFACE = 'org.gnome.keyring.internal.Prompter'
SYSTEM_BUS = False

CALLBACK_IFACE = 'org.gnome.keyring.internal.Prompter.Callback'


def _exchange():
    # A well-formed opening of the secret exchange: the daemon parses it, but
    # no secret ever travels, so any 1536-bit public value will do.
    public = secrets.token_bytes(192)
    return '[sx-aes-1]\npublic=%s\n' % base64.b64encode(public).decode()


def load(mock, parameters):
    mock.answer = parameters.get('answer', 'no')
    mock.prompt_count = 0
    mock.shown = []

    def call_back(sender, callback, method, signature, args):
        # Later, from the main loop: the daemon is still waiting for the reply
        # to the call that triggered this one.
        def send():
            mock.connection.call_async(sender, callback, CALLBACK_IFACE, method, signature,
                                       args, lambda *_: None, lambda *_: None)
            return False
        GLib.idle_add(send)

    def answer(sender, callback, reply):
        call_back(sender, callback, 'PromptReady', 'sa{sv}s',
                  (reply, dbus.Dictionary({}, signature='sv'), _exchange()))
    mock.answer_dialog = answer

    def begin_prompting(_self, callback, sender=None):
        call_back(sender, callback, 'PromptReady', 'sa{sv}s',
                  ('', dbus.Dictionary({}, signature='sv'), _exchange()))

    def perform_prompt(_self, callback, prompt_type, properties, exchange, sender=None):
        mock.prompt_count += 1
        if mock.answer != '':
            answer(sender, callback, mock.answer)
        else:
            mock.shown.append((sender, callback))

    def stop_prompting(_self, callback, sender=None):
        call_back(sender, callback, 'PromptDone', '', ())

    add_sender_method(mock, MAIN_IFACE, 'BeginPrompting', 'o', '', begin_prompting)
    add_sender_method(mock, MAIN_IFACE, 'PerformPrompt', 'osa{sv}s', '', perform_prompt)
    add_sender_method(mock, MAIN_IFACE, 'StopPrompting', 'o', '', stop_prompting)


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def SetAnswer(self, answer):
    self.answer = str(answer)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='i')
def GetPromptCount(self):
    return self.prompt_count


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def AnswerShown(self, answer):
    for sender, callback in self.shown:
        self.answer_dialog(sender, callback, str(answer))
    self.shown = []
