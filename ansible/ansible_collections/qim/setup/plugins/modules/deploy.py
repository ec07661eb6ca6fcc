#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
# Documentation of qim.setup.deploy; the action plugin of the same name runs it.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r"""
module: deploy
short_description: Run the QIM deployment with wassetup, resumable at a failed step
description:
  - Runs C(wassetup deploy --json) with an argument vector; the plug-in validates the
    settings, then its commands run one by one and the first failure stops the run.
  - A failed step fails the task with the plug-in's message and the tag to resume at
    (I(start_at)).
  - After each run the module keeps a record beside the stored settings (I(record)). For
    each step that finished it holds the command as the plug-in composed it (passwords masked) with
    its Java launcher or script folder, then the data source and the Java variables.
  - Before a run it asks the tool for the plan (C(wassetup plan --json)) and holds it against
    the record. When every step's command is the recorded one, nothing runs and the task
    reports no change, whichever version of the tool composed them. Otherwise the deployment
    runs from the first step that differs (C(--start-at)), and the message and the diff say
    which step and why. A step whose command carries a password also runs again after
    M(qim.setup.settings) changed a password. I(force) runs every step, I(start_at) runs
    from the step the user names.
  - Returns the data source record and the Java variables that the application server
    needs, so that a following task can define them.
version_added: 1.0.0
author:
  - QimPlugIn maintainers (!UNKNOWN)
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
  resume_hint:
    description:
      - How the failure message tells the user to resume, C(%s) standing for the tag.
      - The role M(qim.setup.site) sets it to name its variable C(qim_setup_start_at).
    type: str
    default: "start_at: %s"
  log:
    description:
      - Append what was run to this file on the managed host (C(--log)); passwords masked.
    type: path
  force:
    description:
      - Run every step, even those the record says were deployed with the same commands.
    type: bool
    default: false
  record:
    description:
      - The file that records what the deployments ran, written owner-only (mode 0600 on
        POSIX, on Windows a protected access list that grants the user the task runs as,
        C(SYSTEM) and C(Administrators) alone through M(ansible.windows.win_acl) and
        M(ansible.windows.win_acl_inheritance)). A link in its place (on Windows a
        symbolic link or junction) is refused.
      - Default C(QIMSetup.deployed.json) in the preference folder. Only the record there is
        told of a changed password by M(qim.setup.settings).
    type: path
attributes:
  action:
    support: full
    description: Runs on the controller as an action plugin; the managed host only runs
      C(wassetup) with an argument vector and standard input.
  check_mode:
    support: full
    description:
      - Returns the plan and whether the deployment would run, and from which step; runs
        nothing and writes nothing.
      - Plans from the settings that M(qim.setup.settings) did not store in check mode earlier
        in the play (C(wassetup plan --from -)), else from the stored ones.
  diff_mode:
    support: full
    description: The recorded steps before, the planned ones after, each step that differs
      marked with why.
  platform:
    support: full
    platforms: posix, windows
    description: POSIX hosts through C(ansible.builtin.command), Windows hosts through
      C(ansible.windows.win_command); chosen by the connection's shell.
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
      check mode when something would run; C(up to date) when every planned command is the
      recorded one.
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
start_at:
  description: The step the run started at; null when it ran every step.
  returned: when something runs or would run
  type: str
  sample: java_nuvdef
record:
  description: The deploy record on the managed host.
  returned: always
  type: str
  sample: /etc/qim/wassetup/QIMSetup.deployed.json
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
