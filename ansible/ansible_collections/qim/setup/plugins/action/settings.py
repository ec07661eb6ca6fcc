# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""qim.setup.settings: the settings handed to `wassetup set --from -` on standard input,
asked first what would change; in check mode the pending settings are left for the
deployment's plan."""

from __future__ import annotations

import json

from ansible_collections.qim.setup.plugins.module_utils.wassetup import (
    RECORD_NAME,
    SETTINGS_OPTIONS,
    WassetupError,
    diff_of,
    invalid_message,
    passwords_in_settings,
    refusal_of_passwords,
    settings_document,
    settings_entries,
)
from ansible_collections.qim.setup.plugins.plugin_utils.wassetup_action import (
    PENDING_FACT,
    WassetupAction,
    pending_settings,
)


class ActionModule(WassetupAction):
    ARGUMENT_SPEC = SETTINGS_OPTIONS

    def before_validation(self, arguments):
        # A password among the plain settings is made a value never shown before it is
        # refused, so that neither the refusal nor its invocation echoes it.
        settings = arguments.get("settings")
        found = passwords_in_settings(settings if isinstance(settings, dict) else {})
        for _key, value, _option in found:
            if value not in (None, ""):
                self.never_shown.add(value if isinstance(value, str) else str(value))
        if found:
            raise WassetupError(refusal_of_passwords(found))

    def perform(self, task_vars):
        entries = settings_entries(self.params["settings"])
        passwords = dict((option, self.params[option])
                         for option in ("database_password", "mq_password"))
        document = settings_document(entries, passwords)
        if not document["settings"]:
            return dict(changed=False, changes=[], msg="no settings given")
        data = json.dumps(document)

        preview = self.document(["set", "--from", "-", "--dry-run", "--json"], stdin=data)
        changes = preview.get("changes", [])
        validation = preview.get("validation", {"valid": True})
        settings_file = preview.get("settings_file", "")
        result = dict(changed=bool(changes), changes=changes, settings_file=settings_file,
                      validation=validation)
        if self.params["validate"] and not validation.get("valid", True):
            refused = dict(result)
            refused["changed"] = False
            raise WassetupError(invalid_message(validation), **refused)
        if self._task.diff:
            result["diff"] = diff_of(changes, settings_file)
        if self._task.check_mode:
            result["ansible_facts"] = self.pending_fact(task_vars, settings_file, entries,
                                                        changes)
            return result
        if changes:
            # The record to tell of a changed password is read first, so that a record that
            # cannot be told (a link in its place) stops the task before anything is stored.
            record = self.record_to_mark(settings_file, changes)
            stored = self.document(["set", "--from", "-", "--json"], stdin=data)
            result["changes"] = stored.get("changes", changes)
            result["validation"] = stored.get("validation", validation)
            if record is not None:
                self.mark_changed_passwords(record, result["changes"])
        pending = pending_settings(task_vars)
        if settings_file in pending:
            pending.pop(settings_file)
            result["ansible_facts"] = {PENDING_FACT: pending}
        return result

    @staticmethod
    def pending_fact(task_vars, settings_file, entries, changes):
        pending = pending_settings(task_vars)
        pending[settings_file] = dict(
            settings=entries,
            secrets_changed=sorted(c["key"] for c in changes if c.get("secret")))
        return {PENDING_FACT: pending}

    def record_to_mark(self, settings_file, changes):
        """(path, record) of the deploy record beside the settings when a password changes and
        there is a record in this format; None otherwise."""
        if not settings_file or not any(c.get("secret") for c in changes):
            return None
        path = self.target.beside(settings_file, RECORD_NAME)
        found = self.target.stat(path)
        if not found.get("exists"):
            return None
        if found.get("islnk"):
            raise WassetupError("the deploy record %s is a symbolic link; it is neither followed "
                                "nor replaced (remove the link); nothing was stored" % path)
        if not found.get("isreg"):
            raise WassetupError("the deploy record %s is no regular file; nothing was stored"
                                % path)
        try:
            record = json.loads(self.target.read(path))
        except ValueError:
            return None
        return (path, record) if isinstance(record, dict) else None

    def mark_changed_passwords(self, found, changes):
        """A changed password changes no masked command: the deploy record beside the settings
        is told which passwords changed, so that the steps that carry one run again."""
        path, record = found
        changed = set(c["key"] for c in changes if c.get("secret"))
        if not changed:
            return
        record["secrets_changed"] = sorted(set(record.get("secrets_changed") or []) | changed)
        self.target.write_private(path, json.dumps(record, indent=2))
