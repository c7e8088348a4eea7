# -*- coding: utf-8 -*-
# Copyright 2026 The VnKestrix maintainers; see the collection's LICENSE.
"""Runs vnkestrix-cli --json on the managed host for the modules.

The command line tool is the only thing here that talks to the controller
or the guard store: it checks every value and says why it refuses one, so
the modules hand its words on instead of checking values themselves.
"""

from __future__ import (absolute_import, division, print_function)
__metaclass__ = type

import json

PROFILE_VERSION = 1


def run_cli(module, args, device=None, data=None, must_succeed=True):
    """Runs the CLI with --json and returns (exit code, its JSON object).

    A failure's object holds the CLI's message as "error"; unless
    must_succeed is false, the module fails with that message.
    """
    command = [module.get_bin_path('vnkestrix-cli', required=True), '--json']
    if device:
        command += ['--device', device]
    command += list(args)
    rc, out, err = module.run_command(command, data=data)
    try:
        answer = json.loads(out) if out.strip() else {}
    except ValueError:
        answer = {}
    if rc != 0:
        answer.setdefault('error', err.strip() or 'vnkestrix-cli exited with %d' % rc)
        if must_succeed:
            module.fail_json(msg=answer['error'], rc=rc, cmd=command, stderr=err)
    elif not isinstance(answer, dict) or 'error' in answer:
        module.fail_json(msg='vnkestrix-cli printed no JSON object', rc=rc, cmd=command, stdout=out, stderr=err)
    return rc, answer


def apply_profile_part(module, part, wanted, device=None, save=False):
    """Makes one part of a profile ("settings" or "guard") what `wanted` says.

    The CLI compares first (import --dry-run), which checks every value and
    sends nothing; only what differs is then imported, and nothing in check
    mode. Returns the module's result: changed, before and after (what
    differed), and the diff when asked for.
    """
    flags = ['--save'] if save else []
    profile = json.dumps({'version': PROFILE_VERSION, part: wanted})
    dummy, plan = run_cli(module, ['import', '--dry-run'] + flags + ['-'], device, profile)
    before = plan.get('before', {}).get(part, {})
    after = plan.get('after', {}).get(part, {})
    result = dict(changed=bool(after), before=before, after=after)
    if module._diff:
        result['diff'] = dict(before={part: before}, after={part: after})
    if after and not module.check_mode:
        run_cli(module, ['import'] + flags + ['-'], device, json.dumps({'version': PROFILE_VERSION, part: after}))
    return result
