# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""What the collection knows about wassetup: its options, the argument vectors and documents
of its commands, the messages it prints, the version it needs, and the deploy record. Pure
functions only: the action plugins run the tool through a transport and hand its output here."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import re

# The oldest tool that has every command the collection runs (`plan --from -`).
MINIMUM_VERSION = (0, 2, 0)

# The tool's exit status for bad usage or an unusable environment.
EXIT_USAGE = 2

# How the tool prints a password.
MASK = "********"

# The file the tool stores the settings in, and the deploy record beside it by default.
SETTINGS_NAME = "QIMSetup.prefs"
RECORD_NAME = "QIMSetup.deployed.json"
RECORD_FORMAT = "2"

# Password option -> the setting it holds (the tool's two secret keys).
PASSWORD_OPTIONS = (("database_password", "databasePassword"), ("mq_password", "mqpass"))

# The options every module takes: where the tool is and the host options it runs with.
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

SETTINGS_OPTIONS = dict(
    COMMON_OPTIONS,
    settings=dict(type="dict", default={}),
    database_password=dict(type="str", no_log=True),
    mq_password=dict(type="str", no_log=True),
    validate=dict(type="bool", default=True),
)

DEPLOY_OPTIONS = dict(
    COMMON_OPTIONS,
    java=dict(type="path"),
    script_dir=dict(type="path"),
    start_at=dict(type="str"),
    log=dict(type="path"),
    force=dict(type="bool", default=False),
    record=dict(type="path"),
    resume_hint=dict(type="str", default="start_at: %s"),
)

# Module option -> wassetup host option, in the order they are given.
_HOST_OPTIONS = (
    ("prefs_dir", "--prefs-dir"),
    ("catalog_dir", "--catalog-dir"),
    ("plugin", "--plugin"),
    ("separator", "--separator"),
    ("db_product", "--db-product"),
    ("was_dir", "--was-dir"),
    ("nuv_servlet", "--nuv-servlet"),
)


class WassetupError(Exception):
    """A task that cannot go on: the message it fails with and what else it returns."""

    def __init__(self, message, **result):
        super(WassetupError, self).__init__(message)
        self.result = result


def host_arguments(params):
    """The tool's host options for the module options that are set."""
    arguments = []
    for option, flag in _HOST_OPTIONS:
        value = params.get(option)
        if value is not None:
            arguments += [flag, value]
    return arguments


def message_of(stderr):
    """The tool's message lines without its "wassetup: " prefix, joined in one text."""
    lines = [line.strip() for line in (stderr or "").splitlines() if line.strip()]
    prefix = "wassetup: "
    return " ".join(line[len(prefix):] if line.startswith(prefix) else line for line in lines)


def parse_version(text):
    """(major, minor, patch) of `wassetup --version` output ("wassetup 0.2.0"), or None."""
    match = re.search(r"(\d+)\.(\d+)(?:\.(\d+))?", text or "")
    if not match:
        return None
    return tuple(int(part or 0) for part in match.groups())


def version_text(version):
    return ".".join(str(part) for part in version)


def check_version(text, minimum=MINIMUM_VERSION):
    """Raises when `wassetup --version` printed `text` and that is older than `minimum`."""
    version = parse_version(text)
    if version is None or version < minimum:
        found = version_text(version) if version else "an unknown version (%r)" % (text or "")
        raise WassetupError("the collection needs wassetup %s or newer; the managed host has %s"
                            % (version_text(minimum), found))


def password_option_for(key):
    """The option that carries the password a settings key names, or None. The tool's two
    password keys match in any case, and any key that says "password" is taken for one, so
    that a misspelt password key is kept out of the output too."""
    lowered = key.lower()
    for option, password_key in PASSWORD_OPTIONS:
        if lowered == password_key.lower():
            return option
    if "password" in lowered:
        return "mq_password" if "mq" in lowered else "database_password"
    return None


def passwords_in_settings(settings):
    """[(key, value, option)] of the settings that hold a password."""
    found = []
    for key, value in (settings or {}).items():
        option = password_option_for(str(key))
        if option is not None:
            found.append((key, value, option))
    return found


def refusal_of_passwords(found):
    """The message that refuses the passwords `passwords_in_settings` found."""
    return ("passwords are refused in settings, where they would be logged: %s; the password "
            "options are never logged" % ", ".join("%s (give it with %s)" % (key, option)
                                                   for key, _value, option in found))


def setting_text(key, value):
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return str(value)
    if isinstance(value, str):
        return value
    raise WassetupError("the value of '%s' must be a text, a number or a boolean" % key)


def settings_entries(settings):
    """The plain settings as the entries of a `get --json` document, in the order given."""
    return [dict(key=key, value=setting_text(key, value)) for key, value in settings.items()]


def settings_document(entries, passwords=None):
    """The document `set --from -` and `plan --from -` read; `passwords` maps the secret keys
    to the passwords to set (None: keep the stored one)."""
    entries = list(entries)
    for option, key in PASSWORD_OPTIONS:
        value = (passwords or {}).get(option)
        if value is not None:
            entries.append(dict(key=key, value=value))
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
    return dict(before_header=settings_file, after_header=settings_file,
                before="".join(before), after="".join(after))


def invalid_message(validation):
    """The plug-in's verdict on settings that are not valid, as one line."""
    title = validation.get("title", "")
    text = validation.get("text", "")
    page = validation.get("page", "")
    where = " (page %s)" % page if page else ""
    return "%s%s: %s" % (title, where, text) if title else text or "the settings are not valid"


def resume_text(resume_hint, tag):
    """The hint with the tag in place of its %s (after it when the hint has none)."""
    return resume_hint.replace("%s", tag) if "%s" in resume_hint else "%s %s" % (resume_hint, tag)


def failure_message(document, stderr, resume_hint="start_at: %s"):
    """The plug-in's message for a failed step with what to set to resume there, the
    validation message when nothing ran, else the tool's own words."""
    failure = document.get("failure")
    if failure:
        parts = [p for p in (failure.get("title"), failure.get("text")) if p]
        message = "%s: %s" % (failure.get("tag", ""),
                              " ".join(parts) or failure.get("detail", "failed"))
        resume = failure.get("resume_tag")
        if resume:
            message += " (after fixing the cause, rerun with %s)" % resume_text(resume_hint, resume)
        return message
    interruption = document.get("interruption")
    if interruption and interruption.get("resume_tag"):
        return "interrupted at %s (rerun with %s)" % (
            interruption.get("during_step", "?"),
            resume_text(resume_hint, interruption["resume_tag"]))
    validation = document.get("validation")
    if validation:
        return invalid_message(validation)
    return message_of(stderr) or "the deployment ended as %s" % document.get("status", "unknown")


def java_variables_by_name(variables):
    if isinstance(variables, dict):
        return variables
    return dict((v.get("name", ""), v.get("value", ""))
                for v in variables or [] if isinstance(v, dict))


# ---- The deploy record ----
#
# The record says what a deployment ran: for each step that finished, the command as the
# plug-in composed it (passwords masked) and what launched it, then the data source and the
# Java variables. A deployment is "already deployed" when the plan composes the same commands;
# otherwise it runs from the first step that differs, so a tool that composes the same
# commands changes nothing.

_COMMAND_FIELDS = ("kind", "script", "class", "options", "arguments")


def step_command(command, java, script_dir):
    """What decides whether a planned command is the one a deployment ran: the composed
    command and the launcher or script folder it runs with."""
    composed = dict((field, command.get(field)) for field in _COMMAND_FIELDS
                    if command.get(field) is not None)
    if command.get("kind") == "java":
        composed["launcher"] = java
    elif command.get("kind") == "script":
        composed["script_dir"] = script_dir
    return composed


def holds_secret(command):
    return any(MASK in str(argument) for argument in command.get("arguments") or [])


def recorded_steps(record):
    """{tag: step} of a record in this format; nothing for another or none."""
    if not isinstance(record, dict) or record.get("format_version") != RECORD_FORMAT:
        return {}
    return dict((step.get("tag"), step) for step in record.get("steps") or []
                if isinstance(step, dict))


def compare_plan(plan, java, script_dir, record, changed_secrets=()):
    """How the plan stands against the record: a dict with
    - first: the index of the first step that differs (None when every step is deployed),
    - reasons: {tag: why it differs} for every step that differs,
    - outputs_differ: whether the data source or the Java variables differ.
    A step differs when the record lacks it, its command or launcher differs, or it carries a
    password and a password changed since (`changed_secrets`)."""
    recorded = recorded_steps(record)
    changed_secrets = list(changed_secrets or []) + list((record or {}).get("secrets_changed")
                                                         or [])
    reasons = {}
    first = None
    for index, command in enumerate(plan.get("commands") or []):
        tag = command.get("tag")
        step = recorded.get(tag)
        wanted = step_command(command, java, script_dir)
        if step is None:
            why = "not deployed yet"
        elif step.get("command") != wanted:
            why = "its command differs"
        elif changed_secrets and holds_secret(command):
            why = "it carries a password that changed (%s)" % ", ".join(sorted(changed_secrets))
        else:
            continue
        reasons[tag] = why
        if first is None:
            first = index
    outputs_differ = bool(recorded) and (
        record.get("data_source") != plan.get("dataSource", {})
        or record.get("java_variables") != java_variables_by_name(plan.get("javaVariables")))
    return dict(first=first, reasons=reasons, outputs_differ=outputs_differ)


def plan_lines(plan, reasons=None):
    """One line a step for a diff: the tag and its command line (passwords masked)."""
    lines = []
    for command in plan.get("commands") or []:
        why = (reasons or {}).get(command.get("tag"))
        lines.append("%s: %s%s\n" % (command.get("tag"), command.get("line") or "(nothing to run)",
                                     "  <- %s" % why if why else ""))
    return lines


def record_lines(record):
    if not recorded_steps(record):
        return ["(no deployment recorded)\n"]
    return ["%s: %s\n" % (step.get("tag"), step.get("line") or "(nothing to run)")
            for step in record.get("steps") or []]


def deploy_diff(record, plan, comparison, record_path):
    """The record as before, the plan as after, each step that differs marked with why."""
    return dict(before_header=record_path, after_header="the plan",
                before="".join(record_lines(record)),
                after="".join(plan_lines(plan, comparison["reasons"])))


def new_record(plan, document, java, script_dir, start_index, finished_at, version):
    """The record after a run that started at step `start_index`. The steps before it are
    deployed with the commands the plan composes (the record had them, or the user's start_at
    says so) and so are the steps the run did; a step that failed or was not reached is left
    out, so that the next run starts there."""
    states = dict((step.get("tag"), step) for step in document.get("steps") or [])
    steps = []
    for index, command in enumerate(plan.get("commands") or []):
        tag = command.get("tag")
        state = (states.get(tag) or {}).get("state")
        if index < start_index or state in ("done", "skipped"):
            # The plan's line, as the diff shows the plan's: the launcher is kept apart.
            steps.append(dict(tag=tag, command=step_command(command, java, script_dir),
                              line=command.get("line")))
    return dict(
        format_version=RECORD_FORMAT,
        status=document.get("status", "unknown"),
        finished_at=finished_at,
        tool_version=version,
        java=java,
        script_dir=script_dir,
        steps=steps,
        data_source=document.get("dataSource") or plan.get("dataSource", {}),
        java_variables=java_variables_by_name(document.get("javaVariables")
                                              or plan.get("javaVariables")),
    )
