# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""The controller side of the collection's modules: the action plugins decide everything here,
and the managed host only runs wassetup with an argument vector and standard input, through a
transport. A transport is the handful of things the actions ask of a host: run a program,
look at a path, read a small file, write one owner-only. POSIX hosts use ansible.builtin
modules; a Windows transport adds the ansible.windows equivalents, nothing else."""

from __future__ import annotations

import base64
import json
import posixpath

from ansible.errors import AnsibleActionFail
from ansible.module_utils.common.parameters import remove_values
from ansible.plugins.action import ActionBase

from ansible_collections.qim.setup.plugins.module_utils.wassetup import (
    WassetupError,
    check_version,
    host_arguments,
    message_of,
)


# The host fact that carries, by settings file, the settings qim.setup.settings did not store
# in check mode, for qim.setup.deploy to plan from in the same play. Passwords never go in it,
# only the names of those that would change.
PENDING_FACT = "qim_setup_pending_settings"


def pending_settings(task_vars):
    """{settings file: pending settings} of the host, as check mode left them."""
    facts = task_vars.get("ansible_facts") or {}
    return dict(facts.get(PENDING_FACT) or {})


class PosixTransport:
    """A POSIX host, reached through ansible.builtin.command, stat, slurp and copy."""

    def __init__(self, action, task_vars):
        self._action = action
        self._task_vars = task_vars

    def _module(self, name, arguments, quiet=False):
        return self._action.run_on_host(name, arguments, self._task_vars, quiet=quiet)

    def run(self, argv, stdin=None):
        """{rc, stdout, stderr, ran} of the program `argv` with `stdin`; `ran` is false when it
        could not be started at all."""
        arguments = dict(argv=list(argv), strip_empty_ends=False)
        if stdin is not None:
            arguments["stdin"] = stdin
        # A module that carries the settings document (passwords included) logs no invocation.
        result = self._module("ansible.legacy.command", arguments, quiet=stdin is not None)
        return dict(rc=result.get("rc"), stdout=result.get("stdout", ""),
                    stderr=result.get("stderr", ""), ran="delta" in result,
                    msg=result.get("msg", ""))

    def stat(self, path, follow=False):
        """The stat of `path` (exists, isreg, isdir, islnk, executable), links not followed
        unless `follow`."""
        result = self._module("ansible.legacy.stat", dict(
            path=path, follow=follow, get_checksum=False, get_mime=False,
            get_attributes=False))
        if result.get("failed"):
            raise WassetupError("cannot look at %s on the managed host: %s"
                                % (path, result.get("msg", "failed")))
        return result.get("stat", {})

    def read(self, path):
        result = self._module("ansible.legacy.slurp", dict(src=path))
        if result.get("failed"):
            raise WassetupError("cannot read %s: %s" % (path, result.get("msg", "failed")))
        return base64.b64decode(result.get("content", "")).decode("utf-8", "replace")

    def write_private(self, path, text):
        """Writes `text` to `path`, owner-only (0600), replacing a regular file whole."""
        action = self._action
        shell = action.connection_shell()
        folder = shell.tmpdir or action.make_tmp_path()
        source = shell.join_path(folder, "content")
        action.transfer_data(source, text)
        action.fixup_perms((folder, source))
        result = self._module("ansible.legacy.copy", dict(
            src=source, dest=path, mode="0600", follow=False,
            _original_basename=posixpath.basename(path)))
        if result.get("failed"):
            raise WassetupError("cannot write %s: %s" % (path, result.get("msg", "failed")))


class WassetupAction(ActionBase):
    """What the collection's actions share: argument checks, values never shown, the tool
    found and new enough, and its commands run on the managed host."""

    TRANSFERS_FILES = False
    _requires_connection = True
    ARGUMENT_SPEC = {}

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.params = {}
        self.never_shown = set()
        self.target = None
        self.program = None
        self.tool_version = ""

    # ---- what the subclasses implement ----

    def before_validation(self, arguments):
        """Called with the raw task arguments before they are checked."""

    def perform(self, task_vars):
        """The task's result."""
        raise NotImplementedError

    # ---- the run ----

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        task_vars = task_vars or {}
        try:
            try:
                self.before_validation(self._task.args)
                validation, self.params = self.validate_argument_spec(self.ARGUMENT_SPEC)
                self.never_shown.update(v for v in validation._no_log_values if v)
                self.target = self.transport_for(task_vars)
                self.find_tool()
                result.update(self.perform(task_vars))
            except WassetupError as error:
                result.update(error.result)
                result.update(failed=True, msg=str(error))
            except AnsibleActionFail as error:
                result.update(failed=True, msg=error.message)
        finally:
            self._remove_tmp_path(self._connection._shell.tmpdir)
        result["invocation"] = dict(module_args=self.params or dict(self._task.args))
        return remove_values(result, self.never_shown)

    def transport_for(self, task_vars):
        if getattr(self._connection._shell, "_IS_WINDOWS", False):
            raise WassetupError("Windows hosts are not supported yet: the collection drives "
                                "wassetup on POSIX hosts")
        return PosixTransport(self, task_vars)

    # ---- the tool ----

    def find_tool(self):
        """Runs `wassetup --version`; fails cleanly when the option names no program that runs
        or a tool older than the collection needs."""
        program = self.params["wassetup"]
        outcome = self.target.run([program, "--version"])
        if not outcome["ran"]:
            raise WassetupError("wassetup: '%s' %s" % (program, self.why_not_a_program(program)))
        if outcome["rc"] != 0:
            raise WassetupError("wassetup: '%s --version' failed (exit status %s): %s" % (
                program, outcome["rc"], message_of(outcome["stderr"]) or outcome["msg"]))
        check_version(outcome["stdout"])
        self.program = program
        self.tool_version = outcome["stdout"].strip()

    def why_not_a_program(self, program):
        if "/" not in program:
            return "is no program in the PATH of the managed host"
        found = self.target.stat(program, follow=True)
        if not found.get("exists"):
            why = "it cannot be found"
        elif found.get("isdir"):
            why = "it is a folder"
        elif not found.get("isreg"):
            why = "it is no regular file"
        elif not found.get("executable"):
            why = "it is not executable"
        else:
            why = "it could not be run"
        return "is not a regular executable file: %s" % why

    def tool(self, arguments, stdin=None):
        """{rc, stdout, stderr, ran} of wassetup HOST-OPTIONS ARGUMENTS."""
        argv = [self.program] + host_arguments(self.params) + list(arguments)
        return self.target.run(argv, stdin=stdin)

    def document(self, arguments, stdin=None):
        """The JSON document a command prints; fails with the tool's message otherwise."""
        outcome = self.tool(arguments, stdin=stdin)
        if outcome["rc"] != 0:
            raise WassetupError("wassetup %s: %s" % (arguments[0], message_of(outcome["stderr"])
                                                     or outcome["msg"] or "failed"),
                                rc=outcome["rc"], stderr=outcome["stderr"])
        try:
            return json.loads(outcome["stdout"])
        except ValueError:
            raise WassetupError("wassetup %s printed no JSON document" % arguments[0],
                                rc=outcome["rc"], stderr=outcome["stderr"]) from None

    # ---- what the transport needs of the action ----

    def run_on_host(self, name, arguments, task_vars, quiet=False):
        self._quiet = quiet
        try:
            return self._execute_module(module_name=name, module_args=arguments,
                                        task_vars=task_vars)
        finally:
            self._quiet = False

    def _update_module_args(self, module_name, module_args, task_vars):
        super()._update_module_args(module_name, module_args, task_vars)
        # Every command run in check mode only looks (the actions decide what runs), so the
        # modules they use must run, not skip.
        module_args["_ansible_check_mode"] = False
        if getattr(self, "_quiet", False):
            module_args["_ansible_no_log"] = True

    def connection_shell(self):
        return self._connection._shell

    def make_tmp_path(self):
        return self._make_tmp_path()

    def transfer_data(self, path, data):
        return self._transfer_data(path, data)

    def fixup_perms(self, paths):
        return self._fixup_perms2(paths)
