# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""The controller side of the collection's modules: the action plugins decide everything here,
and the managed host only runs wassetup with an argument vector and standard input, through a
transport. A transport is the handful of things the actions ask of a host: run a program,
look at a path, read a small file, write one owner-only. POSIX hosts use ansible.builtin
modules, Windows hosts their ansible.windows equivalents, nothing else."""

from __future__ import annotations

import base64
import json
import ntpath
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

    path = posixpath
    COMMAND = "ansible.legacy.command"
    STAT = "ansible.legacy.stat"
    SLURP = "ansible.legacy.slurp"
    COPY = "ansible.legacy.copy"

    def __init__(self, action, task_vars):
        self._action = action
        self._task_vars = task_vars

    def _module(self, name, arguments, quiet=False):
        return self._action.run_on_host(name, arguments, self._task_vars, quiet=quiet)

    def _done(self, name, arguments, what):
        """The result of a module that must succeed; fails with `what` and its message."""
        result = self._module(name, arguments)
        if result.get("failed"):
            raise WassetupError("%s: %s" % (what, result.get("msg", "failed")))
        return result

    def beside(self, path, name):
        """The file `name` in the folder of `path`."""
        return self.path.join(self.path.dirname(path), name)

    def is_bare_name(self, program):
        """Whether `program` is a name the host searches in its PATH rather than a path."""
        return "/" not in program

    def command_arguments(self, argv):
        return dict(argv=list(argv), strip_empty_ends=False)

    def run(self, argv, stdin=None):
        """{rc, stdout, stderr, ran} of the program `argv` with `stdin`; `ran` is false when it
        could not be started at all."""
        arguments = self.command_arguments(argv)
        if stdin is not None:
            arguments["stdin"] = stdin
        # A module that carries the settings document (passwords included) logs no invocation.
        result = self._module(self.COMMAND, arguments, quiet=stdin is not None)
        return dict(rc=result.get("rc"), stdout=result.get("stdout", ""),
                    stderr=result.get("stderr", ""), ran="delta" in result,
                    msg=result.get("msg", ""))

    def stat(self, path, follow=False):
        """The stat of `path` (exists, isreg, isdir, islnk, executable), links not followed
        unless `follow`."""
        return self._done(self.STAT, dict(
            path=path, follow=follow, get_checksum=False, get_mime=False, get_attributes=False),
            "cannot look at %s on the managed host" % path).get("stat", {})

    def read(self, path):
        result = self._done(self.SLURP, dict(src=path), "cannot read %s" % path)
        return base64.b64decode(result.get("content", "")).decode("utf-8", "replace")

    def copy_arguments(self, source, path):
        return dict(src=source, dest=path, mode="0600", follow=False,
                    _original_basename=self.path.basename(path))

    def write_private(self, path, text):
        """Writes `text` to `path`, owner-only, replacing a regular file whole."""
        action = self._action
        shell = action.connection_shell()
        folder = shell.tmpdir or action.make_tmp_path()
        source = shell.join_path(folder, "content")
        action.transfer_data(source, text)
        action.fixup_perms((folder, source))
        self._done(self.COPY, self.copy_arguments(source, path), "cannot write %s" % path)
        self.restrict(path)

    def restrict(self, path):
        """Leaves `path` to its owner alone; the copy's mode 0600 has done it here."""


class WindowsTransport(PosixTransport):
    """A Windows host, reached through ansible.windows: win_command, win_stat, slurp and
    win_copy; an owner-only file gets a protected access list through win_acl and
    win_acl_inheritance."""

    path = ntpath
    COMMAND = "ansible.windows.win_command"
    STAT = "ansible.windows.win_stat"
    SLURP = "ansible.windows.slurp"
    COPY = "ansible.windows.win_copy"
    # What win_command starts by a path, whatever the name's case.
    PROGRAM_EXTENSIONS = (".exe", ".com")
    # Besides the user, an owner-only file grants the system (LocalSystem) and the local
    # Administrators group, who can take any file anyway.
    KEEPERS = ("S-1-5-18", "S-1-5-32-544")

    def __init__(self, action, task_vars):
        super().__init__(action, task_vars)
        self._user_sid = None

    def is_bare_name(self, program):
        return not any(mark in program for mark in ("\\", "/", ":"))

    def command_arguments(self, argv):
        # win_command quotes each argument by the C rules and reads the output as UTF-8, as
        # the tool writes it; it searches a bare name in PATH, adding .exe.
        return dict(argv=list(argv))

    def stat(self, path, follow=False):
        found = self._done(self.STAT, dict(path=path, follow=follow, get_checksum=False,
                                           get_size=False),
                           "cannot look at %s on the managed host" % path).get("stat", {})
        # A junction is a link as a symbolic link is; a program is what win_command starts.
        return dict(exists=found.get("exists", False), isdir=found.get("isdir", False),
                    isreg=found.get("isreg", False),
                    islnk=bool(found.get("islnk") or found.get("isjunction")),
                    executable=str(found.get("extension", "")).lower()
                    in self.PROGRAM_EXTENSIONS)

    def copy_arguments(self, source, path):
        return dict(src=source, dest=path, _copy_mode="single",
                    _original_basename=self.path.basename(path))

    def user_sid(self):
        if self._user_sid is None:
            who = self._done("ansible.windows.win_whoami", {},
                             "cannot tell the user the task runs as")
            self._user_sid = (who.get("account") or {}).get("sid")
            if not self._user_sid:
                raise WassetupError("cannot tell the user the task runs as: win_whoami "
                                    "returned no account")
        return self._user_sid

    def restrict(self, path):
        """A protected access list that grants the user, the system and the Administrators
        alone: each is granted first, then the inherited entries are dropped, so that the
        list is never empty and never wider than it was."""
        for sid in (self.user_sid(),) + self.KEEPERS:
            self._done("ansible.windows.win_acl", dict(
                path=path, user=sid, rights="FullControl", type="allow", state="present"),
                "cannot grant %s access to %s" % (sid, path))
        self._done("ansible.windows.win_acl_inheritance", dict(
            path=path, state="absent", reorganize=False),
            "cannot make the access list of %s its own" % path)


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
        """The host's transport. The connection's shell decides, as it decides which modules
        can run on the host at all (PowerShell ones for cmd and powershell); gathered facts
        that say Windows behind a POSIX shell fail here rather than in a module."""
        shell = self._connection._shell
        if getattr(shell, "_IS_WINDOWS", False):
            return WindowsTransport(self, task_vars)
        if (task_vars.get("ansible_facts") or {}).get("os_family") == "Windows":
            raise WassetupError(
                "the managed host runs Windows but its connection uses the %s shell; set "
                "ansible_shell_type to powershell or cmd (ansible_connection winrm and psrp "
                "use powershell)" % getattr(shell, "SHELL_FAMILY", "POSIX"))
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
        if self.target.is_bare_name(program):
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
