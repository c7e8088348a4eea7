#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 The VnKestrix maintainers; see the collection's LICENSE.

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

DOCUMENTATION = r'''
---
module: vnkestrix_info
short_description: The VnKestrix controllers, their settings, the guard table and service
description:
  - Reads, through C(vnkestrix-cli --json) on the managed host, every attached
    controller with its firmware revision, serial number and settings, the
    guard trigger table, and the guard service's state. Nothing is written.
  - The same is set as the fact C(vnkestrix).
version_added: 0.9.0
author:
  - The VnKestrix maintainers (@vantrel)
extends_documentation_fragment:
  - vantrel.vnkestrix.vnkestrix
  - vantrel.vnkestrix.vnkestrix.device
attributes:
  check_mode:
    support: full
    description: Nothing is written in any mode.
  diff_mode:
    support: none
    description: Nothing changes, so there is no difference to show.
  facts:
    support: full
    description: Everything returned is also the fact C(vnkestrix).
'''

EXAMPLES = r'''
- name: What each board has
  vantrel.vnkestrix.vnkestrix_info:
  register: board

- name: Boards whose guard service is not running
  ansible.builtin.debug:
    msg: "{{ inventory_hostname }}: {{ ansible_facts.vnkestrix.service.error }}"
  when: not ansible_facts.vnkestrix.service.running
'''

RETURN = r'''
controllers:
  description:
    - Every attached controller, as C(vnkestrix-cli list) shows it, with its
      settings when this user may open it.
  returned: always
  type: list
  elements: dict
  sample:
    - device: /dev/hidraw3
      serial: SN0042
      firmware: "1.0"
      access: true
      settings: {sample-rate: 50, watchdog.mode: show-only}
guard:
  description: The guard trigger table, every line's level and action.
  returned: always
  type: dict
  sample: {gpio3: {level: 1, action: shutdown}}
service:
  description:
    - The guard service's state as C(vnkestrix-cli guard status) shows it;
      when it does not run, C(running) is false and C(error) says why.
  returned: always
  type: dict
  sample: {running: false, error: vnkestrix-guardd is not running}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vantrel.vnkestrix.plugins.module_utils.vnkestrix_cli import run_cli


def main():
    module = AnsibleModule(argument_spec=dict(device=dict(type='str')), supports_check_mode=True)
    wanted = module.params['device']
    dummy, listing = run_cli(module, ['list'])
    controllers = [entry for entry in listing.get('controllers', [])
                   if wanted in (None, entry.get('device'), entry.get('serial'))]
    for entry in controllers:
        if entry.get('access'):
            entry['settings'] = run_cli(module, ['get'], device=entry['device'])[1]
    dummy, guard = run_cli(module, ['guard', 'get'])
    rc, service = run_cli(module, ['guard', 'status'], must_succeed=False)
    if rc != 0:
        service = dict(running=False, error=service['error'])
    facts = dict(controllers=controllers, guard=guard, service=service)
    module.exit_json(changed=False, ansible_facts=dict(vnkestrix=facts), **facts)


if __name__ == '__main__':
    main()
