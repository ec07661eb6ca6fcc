# Runs wassetup for the modules of the collection: the shared options, the argument vector
# with the host options, and the JSON documents the tool prints.

from __future__ import annotations

import json
import os
import stat

# The options of the doc fragment qim.setup.wassetup.
COMMON_OPTIONS = dict(
    wassetup=dict(type="path", default="wassetup"),
    prefs_dir=dict(type="path"),
    catalog_dir=dict(type="path"),
    plugin=dict(type="path"),
    separator=dict(type="str"),
    db_product=dict(type="str", choices=["IBM DB2", "Oracle"]),
    was_dir=dict(type="path"),
    nuv_servlet=dict(type="str"),
)

# Module option -> wassetup host option.
_HOST_OPTIONS = (
    ("prefs_dir", "--prefs-dir"),
    ("catalog_dir", "--catalog-dir"),
    ("plugin", "--plugin"),
    ("separator", "--separator"),
    ("db_product", "--db-product"),
    ("was_dir", "--was-dir"),
    ("nuv_servlet", "--nuv-servlet"),
)

# The tool's exit status for bad usage or an unusable environment.
EXIT_USAGE = 2


def module_options(**own):
    """The options every module takes, with the module's `own`."""
    options = dict(COMMON_OPTIONS)
    options.update(own)
    return options


def program_problem(path):
    """Why `path` cannot be run as the tool, or None when it is a regular executable file."""
    try:
        status = os.stat(path)
    except OSError as error:
        return "it cannot be found (%s)" % (error.strerror or error)
    if stat.S_ISDIR(status.st_mode):
        return "it is a folder"
    if not stat.S_ISREG(status.st_mode):
        return "it is no regular file"
    if not os.access(path, os.X_OK):
        return "it is not executable"
    return None


def message_of(stderr):
    """The tool's message lines without its "wassetup: " prefix, joined in one text."""
    lines = [line.strip() for line in (stderr or "").splitlines() if line.strip()]
    prefix = "wassetup: "
    return " ".join(line[len(prefix):] if line.startswith(prefix) else line for line in lines)


class Wassetup:
    """wassetup on the managed host, run with the module's host options."""

    def __init__(self, module):
        self.module = module
        program = module.params["wassetup"]
        if os.sep not in program:
            found = module.get_bin_path(program)
            if found is None:
                module.fail_json(msg="wassetup: no program '%s' in the PATH of the managed host"
                                 % program)
            program = found
        problem = program_problem(program)
        if problem:
            module.fail_json(msg="wassetup: '%s' is not a regular executable file: %s"
                             % (program, problem))
        self.program = program

    def host_arguments(self):
        arguments = []
        for option, flag in _HOST_OPTIONS:
            value = self.module.params.get(option)
            if value is not None:
                arguments += [flag, value]
        return arguments

    def preference_folder(self):
        """The folder the tool stores the settings in, as it chooses it."""
        if self.module.params.get("prefs_dir"):
            return self.module.params["prefs_dir"]
        config = os.environ.get("XDG_CONFIG_HOME")
        if config:
            return os.path.join(config, "wassetup")
        return os.path.join(os.path.expanduser("~"), ".config", "wassetup")

    def run(self, arguments, data=None):
        """(status, stdout, stderr) of wassetup HOST-OPTIONS ARGUMENTS, with `data` on stdin."""
        argv = [self.program] + self.host_arguments() + list(arguments)
        return self.module.run_command(
            argv,
            data=data,
            binary_data=True,
            environ_update=dict(NO_COLOR="1"),
            use_unsafe_shell=False,
        )

    def document(self, arguments, data=None, accepted=(0,)):
        """The JSON document a command prints; the task fails with the tool's message when
        the status is not accepted or the output is not JSON."""
        status, out, err = self.run(arguments, data=data)
        if status not in accepted:
            self.fail(status, err, arguments)
        try:
            return status, json.loads(out), err
        except ValueError:
            self.fail(status, err, arguments, why="printed no JSON document")

    def fail(self, status, err, arguments, why=None, **result):
        command = arguments[0] if arguments else ""
        message = message_of(err) or why or "failed"
        self.module.fail_json(
            msg="wassetup %s: %s" % (command, message), rc=status, stderr=err, **result
        )

    def version(self):
        status, out, _ = self.module.run_command([self.program, "--version"])
        return out.strip() if status == 0 else ""
