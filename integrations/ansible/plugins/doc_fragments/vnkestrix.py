# -*- coding: utf-8 -*-
# Copyright 2026 The VnKestrix maintainers; see the collection's LICENSE.

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type


class ModuleDocFragment(object):

    # Every module runs the command line tool on the managed host.
    DOCUMENTATION = r'''
requirements:
  - vnkestrix-cli on the managed host
options: {}
'''

    DEVICE = r'''
options:
  device:
    description:
      - The controller, by device node or by serial number, as
        C(vnkestrix-cli list) shows them. Without it, the one
        C(vnkestrix-cli) finds first.
    type: str
'''

    # The modules that change something compare first and write only what
    # differs.
    CHANGES = r'''
attributes:
  check_mode:
    support: full
    description: Everything is read and compared; nothing is written.
  diff_mode:
    support: full
    description: Before and after of everything that differs, shaped like a profile.
'''
