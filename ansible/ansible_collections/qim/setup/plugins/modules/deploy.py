#!/usr/bin/python
# The deployment of QIM on a managed host, through wassetup.

from __future__ import annotations

DOCUMENTATION = r"""
module: deploy
short_description: Run the QIM deployment with wassetup, resumable at a failed step
description:
  - Runs C(wassetup deploy --json) with an argument vector; the plug-in validates the
    settings, then its commands run one by one and the first failure stops the run.
  - A failed step fails the task with the plug-in's message and the tag to resume at
    (I(start_at)).
  - After a deployment that finished, the module keeps a record beside the stored settings
    (I(record)). While the settings, the options below and the tool's version are those of
    that record, the deployment is not run again and the task reports no change; I(force)
    or I(start_at) runs it anyway.
  - Returns the data source record and the Java variables that the application server
    needs, so that a following task can define them.
version_added: 1.0.0
author:
  - QimPlugIn maintainers
extends_documentation_fragment:
  - qim.setup.wassetup
options:
  java:
    description:
      - The Java launcher the commands run with (C(--java)); default C($JAVA_HOME/bin/java),
        else C(java).
    type: path
  script_dir:
    description:
      - The folder the batch scripts are run from (C(--script-dir)); default the current folder.
    type: path
  start_at:
    description:
      - Resume at the command with this tag, as a failed run names it.
    type: str
  log:
    description:
      - Append what was run to this file on the managed host (C(--log)); passwords masked.
    type: path
  force:
    description:
      - Run the deployment even when the record says it finished with these settings.
    type: bool
    default: false
  record:
    description:
      - The file that records the last deployment that finished.
      - Default C(QIMSetup.deployed.json) in the preference folder.
    type: path
attributes:
  check_mode:
    support: full
    description: Returns the plan (C(wassetup plan --json)) and runs nothing.
  diff_mode:
    support: none
notes:
  - The password in I(data_source) is masked; the playbook that set it has it.
"""

EXAMPLES = r"""
- name: Deploy QIM
  qim.setup.deploy:
    prefs_dir: /etc/qim/wassetup
    java: /opt/java/bin/java
    script_dir: /opt/qim/scripts
  register: qim_deployment

- name: Resume after fixing the cause of a failed step
  qim.setup.deploy:
    prefs_dir: /etc/qim/wassetup
    java: /opt/java/bin/java
    script_dir: /opt/qim/scripts
    start_at: java_nuvdef

- name: Hand the Java variable on
  ansible.builtin.debug:
    msg: "ws.ext.dirs={{ qim_deployment.java_variables['ws.ext.dirs'] }}"
"""

RETURN = r"""
status:
  description:
    - C(finished), C(failed), C(invalid) or C(interrupted) as the tool says; C(planned) in
      check mode; C(up to date) when the record says it is deployed with these settings.
  returned: always
  type: str
  sample: finished
steps:
  description: Each step as the tool reports it (tag, state, command line with passwords
    masked, exit status, duration).
  returned: when the deployment ran
  type: list
  elements: dict
  sample:
    - {tag: qim_copy, state: done, line: "scripts/QIMFilesCp.bat /opt/qim /srv/qim/runtime",
       exit_status: 0, duration_ms: 12}
failure:
  description: The failed step's tag, the plug-in's title and text, and the tag to resume at.
  returned: when a step failed
  type: dict
  sample: {tag: java_nuvdef, title: QIM setup step failed, resume_tag: java_nuvdef}
resume_tag:
  description: The tag to give as I(start_at) after fixing the cause of a failed step.
  returned: when a step failed
  type: str
  sample: java_nuvdef
validation:
  description: The plug-in's message when the settings are not valid (nothing ran).
  returned: when the settings are not valid
  type: dict
plan:
  description: The plan's commands (C(wassetup plan --json)), in check mode.
  returned: in check mode
  type: list
  elements: dict
data_source:
  description: The JDBC data source record (Host, Port, DatabaseName, User, Password masked,
    JndiName, JdbcProvider, count).
  returned: when known
  type: dict
  sample: {count: 1, Host: db1.example.com, Port: "50001", DatabaseName: QIMDB,
           User: db2admin, Password: "********", JndiName: jdbc/QIM}
java_variables:
  description: The Java variables by name.
  returned: when known
  type: dict
  sample: {ws.ext.dirs: /opt/fmc/bin/fmcojagt.jar}
"""

import hashlib
import json
import os
import stat
import time

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.qim.setup.plugins.module_utils.wassetup import (
    EXIT_USAGE,
    Wassetup,
    module_options,
    message_of,
)

RECORD_NAME = "QIMSetup.deployed.json"
SETTINGS_NAME = "QIMSetup.prefs"

# The options whose value changes what the deployment runs.
FINGERPRINT_OPTIONS = (
    "catalog_dir", "plugin", "separator", "db_product", "was_dir", "nuv_servlet", "java",
    "script_dir",
)


def java_variables_by_name(variables):
    if isinstance(variables, dict):
        return variables
    return {v.get("name", ""): v.get("value", "") for v in variables or [] if isinstance(v, dict)}


def fingerprint(module, tool, folder):
    """A digest of the stored settings, the options and the tool's version: a deployment that
    finished with the same digest need not run again."""
    digest = hashlib.sha256()
    try:
        with open(os.path.join(folder, SETTINGS_NAME), "rb") as settings:
            digest.update(settings.read())
    except OSError:
        return None
    options = {name: module.params.get(name) for name in FINGERPRINT_OPTIONS}
    digest.update(json.dumps(options, sort_keys=True).encode())
    digest.update(tool.version().encode())
    return digest.hexdigest()


def read_record(path):
    try:
        with open(path) as record:
            return json.load(record)
    except (OSError, ValueError):
        return {}


def refuse_link(module, path):
    """A link in the record's place is refused, never followed or replaced: whoever could
    plant it would choose which file the module reads and overwrites."""
    try:
        if stat.S_ISLNK(os.lstat(path).st_mode):
            module.fail_json(msg="the deploy record %s is a symbolic link; it is neither followed "
                             "nor replaced (remove the link)" % path)
    except FileNotFoundError:
        pass


def write_record(module, path, record):
    """Written owner-only (0600 whatever the umask) through a temporary file beside it and a
    rename, never through a link."""
    refuse_link(module, path)
    temporary = "%s.%d.tmp" % (path, os.getpid())
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_NOFOLLOW", 0)
    try:
        with os.fdopen(os.open(temporary, flags, 0o600), "w") as out:
            os.fchmod(out.fileno(), 0o600)
            json.dump(record, out, indent=2)
            out.flush()
            os.fsync(out.fileno())
        os.rename(temporary, path)
    except OSError as error:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        module.fail_json(msg="cannot write the deploy record %s: %s" % (path, error))


def remove_record(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def deploy_arguments(params):
    arguments = ["deploy", "--json"]
    for option, flag in (("java", "--java"), ("script_dir", "--script-dir"),
                         ("start_at", "--start-at"), ("log", "--log")):
        if params.get(option):
            arguments += [flag, params[option]]
    return arguments


def failure_message(document, err):
    """The plug-in's message for a failed step, with the resume tag; the validation message
    when nothing ran."""
    failure = document.get("failure")
    if failure:
        tag = failure.get("tag", "")
        parts = [p for p in (failure.get("title"), failure.get("text")) if p]
        message = "%s: %s" % (tag, " ".join(parts) or failure.get("detail", "failed"))
        resume = failure.get("resume_tag")
        if resume:
            message += " (after fixing the cause, rerun with start_at: %s)" % resume
        return message
    validation = document.get("validation")
    if validation:
        page = validation.get("page")
        return "%s%s: %s" % (validation.get("title", "not valid"),
                             " (page %s)" % page if page else "", validation.get("text", ""))
    return message_of(err) or "the deployment ended as %s" % document.get("status", "unknown")


def check_mode_result(module, tool, up_to_date):
    _, plan, _ = tool.document(["plan", "--json"])
    module.exit_json(
        changed=not up_to_date,
        status="up to date" if up_to_date else "planned",
        plan=plan.get("commands", []),
        data_source=plan.get("dataSource", {}),
        java_variables=java_variables_by_name(plan.get("javaVariables")),
    )


def main():
    module = AnsibleModule(
        argument_spec=module_options(
            java=dict(type="path"),
            script_dir=dict(type="path"),
            start_at=dict(type="str"),
            log=dict(type="path"),
            force=dict(type="bool", default=False),
            record=dict(type="path"),
        ),
        supports_check_mode=True,
    )
    tool = Wassetup(module)
    folder = tool.preference_folder()
    record_path = module.params["record"] or os.path.join(folder, RECORD_NAME)
    refuse_link(module, record_path)
    before = fingerprint(module, tool, folder)
    record = read_record(record_path)
    up_to_date = (
        before is not None
        and record.get("fingerprint") == before
        and not module.params["force"]
        and not module.params["start_at"]
    )
    if module.check_mode:
        check_mode_result(module, tool, up_to_date)
    if up_to_date:
        module.exit_json(
            changed=False,
            status="up to date",
            msg="deployed with these settings at %s" % record.get("finished_at", "?"),
            data_source=record.get("data_source", {}),
            java_variables=record.get("java_variables", {}),
        )

    status, out, err = tool.run(deploy_arguments(module.params))
    try:
        document = json.loads(out)
    except ValueError:
        document = None
    if status == EXIT_USAGE or not isinstance(document, dict):
        tool.fail(status, err, ["deploy"], why="printed no JSON document")
    result = dict(
        status=document.get("status", "unknown"),
        start_at=document.get("start_at", module.params["start_at"]),
        steps=document.get("steps", []),
        data_source=document.get("dataSource", {}),
        java_variables=java_variables_by_name(document.get("javaVariables")),
        stderr=err,
    )
    ran = any(step.get("state") not in (None, "pending", "not run", "skipped")
              for step in result["steps"])
    if status != 0 or result["status"] != "finished":
        remove_record(record_path)
        if document.get("failure"):
            result["failure"] = document["failure"]
            result["resume_tag"] = document["failure"].get("resume_tag")
        if document.get("validation"):
            result["validation"] = document["validation"]
        module.fail_json(msg=failure_message(document, err), changed=ran, rc=status, **result)

    after = fingerprint(module, tool, folder)
    if after is not None:
        write_record(module, record_path, dict(
            fingerprint=after,
            finished_at=time.strftime("%Y-%m-%dT%H:%M:%S%z"),
            data_source=result["data_source"],
            java_variables=result["java_variables"],
        ))
    module.exit_json(changed=True, **result)


if __name__ == "__main__":
    main()
