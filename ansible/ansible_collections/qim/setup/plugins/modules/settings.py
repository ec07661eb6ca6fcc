#!/usr/bin/python
# The settings of the QIM setup plug-in on a managed host, through wassetup.

from __future__ import annotations

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
  - QimPlugIn maintainers
extends_documentation_fragment:
  - qim.setup.wassetup
options:
  settings:
    description:
      - The settings by key, as C(wassetup get) lists them (for instance C(qimdirrt),
        C(databasePort), C(enableCT)). Keys not given keep their stored value.
      - Booleans become C(true) or C(false) and numbers their text.
      - The passwords C(databasePassword) and C(mqpass) are refused here; give them with
        I(database_password) and I(mq_password), which are never logged.
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
  check_mode:
    support: full
    description: Reports which settings would change and stores nothing.
  diff_mode:
    support: full
    description: Shows the changed keys with old and new values; a password is named, never shown.
notes:
  - Passwords are compared by the tool; the module never prints them, and neither does its
    diff.
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
"""

import json

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.qim.setup.plugins.module_utils.wassetup import Wassetup, module_options

# Password option -> the setting it holds.
PASSWORD_OPTIONS = (("database_password", "databasePassword"), ("mq_password", "mqpass"))

MASK = "********"


def setting_text(key, value):
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return str(value)
    if isinstance(value, str):
        return value
    raise TypeError("the value of '%s' must be a text, a number or a boolean" % key)


def password_option_for(key):
    """The option that carries the password a settings key names, or None. The tool's two
    password keys match in any case, and any key that says "password" is taken for one, so
    that a misspelt password key is kept out of the output too."""
    for option, password_key in PASSWORD_OPTIONS:
        if key.lower() == password_key.lower():
            return option
    if "password" in key.lower():
        return "mq_password" if "mq" in key.lower() else "database_password"
    return None


def refuse_passwords_in_settings(module):
    """Fails on a password among the plain settings. Its value is made a value the module
    never returns first, so that the refusal (its invocation included) does not echo it."""
    refused = []
    for key, value in module.params["settings"].items():
        option = password_option_for(key)
        if option is None:
            continue
        if value is not None and value != "":
            module.no_log_values.add(value if isinstance(value, str) else str(value))
        refused.append("%s (give it with %s)" % (key, option))
    if refused:
        module.fail_json(
            msg="passwords are refused in settings, where they would be logged: %s; the "
            "password options are never logged" % ", ".join(refused)
        )


def settings_document(module):
    """The document `wassetup set --from` reads, from the module's options."""
    refuse_passwords_in_settings(module)
    entries = []
    for key, value in module.params["settings"].items():
        try:
            entries.append(dict(key=key, value=setting_text(key, value)))
        except TypeError as error:
            module.fail_json(msg=str(error))
    for option, password_key in PASSWORD_OPTIONS:
        if module.params[option] is not None:
            entries.append(dict(key=password_key, value=module.params[option]))
    return dict(format_version="1.0", settings=entries)


def diff_of(changes, settings_file):
    """Before and after of the changed keys; a password shows as the mask, marked changed."""
    before = []
    after = []
    for change in changes:
        old = change.get("old", "")
        new = change.get("new", "")
        if change.get("secret"):
            old = MASK if old else "(none)"
            new = (MASK + " (changed)") if new else "(none)"
        before.append("%s=%s\n" % (change["key"], old))
        after.append("%s=%s\n" % (change["key"], new))
    return dict(
        before_header=settings_file,
        after_header=settings_file,
        before="".join(before),
        after="".join(after),
    )


def invalid_message(validation):
    title = validation.get("title", "")
    text = validation.get("text", "")
    page = validation.get("page", "")
    where = " (page %s)" % page if page else ""
    return "%s%s: %s" % (title, where, text) if title else text or "the settings are not valid"


def main():
    module = AnsibleModule(
        argument_spec=module_options(
            settings=dict(type="dict", default={}),
            database_password=dict(type="str", no_log=True),
            mq_password=dict(type="str", no_log=True),
            validate=dict(type="bool", default=True),
        ),
        supports_check_mode=True,
    )
    document = settings_document(module)
    if not document["settings"]:
        module.exit_json(changed=False, changes=[], msg="no settings given")
    data = json.dumps(document)
    tool = Wassetup(module)

    _, preview, _ = tool.document(["set", "--from", "-", "--dry-run", "--json"], data=data)
    changes = preview.get("changes", [])
    validation = preview.get("validation", {"valid": True})
    settings_file = preview.get("settings_file", "")
    result = dict(
        changed=bool(changes), changes=changes, settings_file=settings_file, validation=validation
    )
    if module.params["validate"] and not validation.get("valid", True):
        module.fail_json(msg=invalid_message(validation), **dict(result, changed=False))
    if module._diff:
        result["diff"] = diff_of(changes, settings_file)
    if changes and not module.check_mode:
        _, stored, _ = tool.document(["set", "--from", "-", "--json"], data=data)
        result["changes"] = stored.get("changes", changes)
        result["validation"] = stored.get("validation", validation)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
