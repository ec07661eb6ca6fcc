#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
# Documentation of qim.setup.settings; the action plugin of the same name runs it.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r"""
module: settings
short_description: Apply the settings of the QIM setup plug-in with wassetup
description:
  - Hands the settings to C(wassetup set --from -) on standard input, so that no value,
    passwords included, is ever on a command line.
  - First asks the tool which settings would change (C(set --dry-run --json)); stores only
    when something changes, so a second run with the same settings reports no change.
  - Refuses an unknown key, and by default settings the plug-in finds not valid, with the
    tool's or the plug-in's message; nothing is stored then.
version_added: 1.0.0
author:
  - QimPlugIn maintainers (!UNKNOWN)
extends_documentation_fragment:
  - qim.setup.wassetup
options:
  settings:
    description:
      - The settings by key, as C(wassetup get) lists them (for instance C(qimdirrt),
        C(databasePort), C(enableCT)). Keys not given keep their stored value.
      - Booleans become C(true) or C(false) and numbers their text.
      - The passwords C(databasePassword) and C(mqpass), and any key that names a password,
        are refused here; give them with I(database_password) and I(mq_password), which are
        never logged. A refused value is never logged either.
    type: dict
    default: {}
  database_password:
    description:
      - The database user's password (the setting C(databasePassword)). Not logged.
    type: str
  mq_password:
    description:
      - The MQSeries user's password (the setting C(mqpass)). Not logged.
    type: str
  validate:
    description:
      - Refuse settings that the plug-in finds not valid, with its message, and store
        nothing.
      - With C(false) they are stored and the verdict is returned in I(validation).
    type: bool
    default: true
attributes:
  action:
    support: full
    description: Runs on the controller as an action plugin; the managed host only runs
      C(wassetup) with an argument vector and standard input.
  check_mode:
    support: full
    description:
      - Reports which settings would change and stores nothing.
      - Leaves the pending settings (never the passwords) in the host fact
        C(qim_setup_pending_settings), so that M(qim.setup.deploy) in check mode plans from
        them.
  diff_mode:
    support: full
    description: Shows the changed keys with old and new values; a password is named, never shown.
  platform:
    support: full
    platforms: posix, windows
    description: POSIX hosts through C(ansible.builtin.command), Windows hosts through
      C(ansible.windows.win_command); chosen by the connection's shell.
notes:
  - Passwords are compared by the tool; the module never prints them, and neither does its
    diff.
  - A password that changes is marked in the deploy record beside the settings
    (C(QIMSetup.deployed.json)), so that M(qim.setup.deploy) runs again the steps that carry
    one.
"""

EXAMPLES = r"""
- name: Point QIM at its folders and the database
  qim.setup.settings:
    prefs_dir: /etc/qim/wassetup
    settings:
      qimdirrt: /srv/qim/runtime
      databaseHost: db1.example.com
      databasePort: 50001
      enableCT: true
    database_password: "{{ vault_qim_database_password }}"
    mq_password: "{{ vault_qim_mq_password }}"

- name: What would change on each server
  qim.setup.settings:
    settings:
      smtp: mail.example.com
  check_mode: true
  diff: true
"""

RETURN = r"""
changes:
  description:
    - The settings that changed (or would change, in check mode), in the tool's order.
      A password's values are C(********) (or empty when there is none).
  returned: always
  type: list
  elements: dict
  contains:
    key:
      description: The setting's key.
      type: str
    old:
      description: Its value before.
      type: str
    new:
      description: Its value after.
      type: str
    secret:
      description: Whether the values are a password's, and so masked.
      type: bool
  sample:
    - {key: smtp, old: "", new: mail.example.com, secret: false}
    - {key: databasePassword, old: "", new: "********", secret: true}
settings_file:
  description: The file the settings are stored in on the managed host.
  returned: always
  type: str
  sample: /etc/qim/wassetup/QIMSetup.prefs
validation:
  description: The plug-in's verdict on the settings as they are after the change.
  returned: always
  type: dict
  contains:
    valid:
      description: Whether the plug-in accepts them.
      type: bool
    page:
      description: The page of the first field that is wrong, when not valid.
      type: str
    title:
      description: The plug-in's message title, when not valid.
      type: str
    text:
      description: The plug-in's message, when not valid.
      type: str
  sample: {valid: true}
ansible_facts:
  description: In check mode, C(qim_setup_pending_settings) by settings file, the settings
    that were not stored (no password) and the names of the passwords that would change.
  returned: in check mode
  type: dict
  sample: {qim_setup_pending_settings: {/etc/qim/wassetup/QIMSetup.prefs: {
           settings: [{key: smtp, value: mail.example.com}], secrets_changed: []}}}
"""
