'''Shared by the mock templates here (not a template itself).'''

import dbus.service


def add_sender_method(obj, iface, name, in_sig, out_sig, func):
    '''Registers a method that receives the caller's unique name as `sender`.

    dbusmock's method snippets do not see the caller, but some services answer
    per connection (fprintd's claims, a prompter's callbacks), so these
    methods are hooked in directly.
    '''
    method = dbus.service.method(iface, in_signature=in_sig, out_signature=out_sig,
                                 sender_keyword='sender')(func)
    method.__name__ = name
    obj.methods.setdefault(iface, {})[name] = (in_sig, out_sig, func, method)
