#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 The VnKestrix maintainers; see the collection's LICENSE.

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

DOCUMENTATION = r'''
---
module: vnkestrix_guard
short_description: Set the rows of the VnKestrix guard trigger table
description:
  - Makes the guard trigger table's rows what I(guard) says, through
    C(vnkestrix-cli --json) on the managed host, and changes only the rows
    that differ. The guard service (vnkestrix-guardd) follows the table
    without a restart.
  - Every row is checked by C(vnkestrix-cli) before anything is written; a
    row it refuses fails the task with its message and the table stays as it
    was.
version_added: 0.9.0
author:
  - The VnKestrix maintainers (@vantrel)
notes:
  - Changing the table takes root or membership of the group vnkestrix on the
    managed host.
extends_documentation_fragment:
  - vantrel.vnkestrix.vnkestrix
  - vantrel.vnkestrix.vnkestrix.changes
options:
  guard:
    description:
      - The rows, as in the C(guard) part of a profile that
        C(vnkestrix-cli export --guard) writes; the lines are C(gpio0) to
        C(gpio7), C(batlow) and C(pwrbtn).
      - Each row has C(level) (C(0) or C(1)) and C(action) (C(do-nothing),
        C(standby) or C(shutdown)); when the line is at the level, the guard
        service takes the action.
      - Lines left out keep their rows.
    type: dict
    required: true
'''

EXAMPLES = r'''
- name: Shut down when GPIO 3 goes high, stand by when BATLOW# goes low
  become: true
  vantrel.vnkestrix.vnkestrix_guard:
    guard:
      gpio3: {level: 1, action: shutdown}
      batlow: {level: 0, action: standby}
'''

RETURN = r'''
before:
  description: The rows that differed, as they were.
  returned: always
  type: dict
  sample: {gpio3: {level: 0, action: do-nothing}}
after:
  description: The same rows as given.
  returned: always
  type: dict
  sample: {gpio3: {level: 1, action: shutdown}}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vantrel.vnkestrix.plugins.module_utils.vnkestrix_cli import apply_profile_part


def main():
    module = AnsibleModule(
        argument_spec=dict(guard=dict(type='dict', required=True)),
        supports_check_mode=True,
    )
    module.exit_json(**apply_profile_part(module, 'guard', module.params['guard']))


if __name__ == '__main__':
    main()
