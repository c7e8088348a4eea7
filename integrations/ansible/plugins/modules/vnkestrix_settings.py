#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 The VnKestrix maintainers; see the collection's LICENSE.

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

DOCUMENTATION = r'''
---
module: vnkestrix_settings
short_description: Set a VnKestrix board controller's settings
description:
  - Makes the controller's settings what I(settings) says, through
    C(vnkestrix-cli --json) on the managed host, and changes only the settings
    that differ.
  - Every value is checked by C(vnkestrix-cli) before anything is sent; a value
    it refuses fails the task with its message and nothing is written.
  - The comparison is with the controller's RAM, the only copy it can report.
version_added: 0.9.0
author:
  - The VnKestrix maintainers (@vantrel)
extends_documentation_fragment:
  - vantrel.vnkestrix.vnkestrix
  - vantrel.vnkestrix.vnkestrix.changes
  - vantrel.vnkestrix.vnkestrix.device
options:
  settings:
    description:
      - "The settings, as in the C(settings) part of a profile that
        C(vnkestrix-cli export) writes, for example C({sample-rate: 100,
        watchdog.mode: show-only, watchdog.sources: [feature-report]})."
      - Settings left out keep their values. C(vnkestrix-cli set --help)
        lists every setting and what it accepts.
      - A bare C(on) or C(off), which YAML reads as a boolean, is passed on as
        the word.
    type: dict
    required: true
  target:
    description:
      - C(ram) changes the running controller only; C(flash) also writes the
        changed settings to flash, so that they survive a power cycle.
    type: str
    choices: [ram, flash]
    default: ram
'''

EXAMPLES = r'''
- name: Watchdog resets the board, sample every 100 ms, kept across power cycles
  vantrel.vnkestrix.vnkestrix_settings:
    settings:
      sample-rate: 100
      watchdog.mode: reset-system
      watchdog.delay: 300
    target: flash

- name: The second controller, picked by its serial number
  vantrel.vnkestrix.vnkestrix_settings:
    device: SN0043
    settings:
      power.restart-after-power-failure: on
'''

RETURN = r'''
before:
  description: The settings that differed, with the values they had.
  returned: always
  type: dict
  sample: {sample-rate: 50}
after:
  description: The same settings with the values given.
  returned: always
  type: dict
  sample: {sample-rate: 100}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vantrel.vnkestrix.plugins.module_utils.vnkestrix_cli import apply_profile_part


def as_profile_value(value):
    # YAML 1.1 reads a bare on/off as a boolean; the switches take the words.
    if isinstance(value, bool):
        return 'on' if value else 'off'
    return value


def main():
    module = AnsibleModule(
        argument_spec=dict(
            settings=dict(type='dict', required=True),
            target=dict(type='str', choices=['ram', 'flash'], default='ram'),
            device=dict(type='str'),
        ),
        supports_check_mode=True,
    )
    wanted = dict((name, as_profile_value(value)) for name, value in module.params['settings'].items())
    result = apply_profile_part(module, 'settings', wanted, device=module.params['device'],
                                save=module.params['target'] == 'flash')
    module.exit_json(**result)


if __name__ == '__main__':
    main()
