# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""The action plugins against a Windows host: every module they run there is answered by a
fake host with the results ansible.windows documents for win_command, win_stat, slurp,
win_copy, win_whoami, win_acl and win_acl_inheritance, and wassetup behind win_command keeps
its settings and answers with its JSON documents."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import base64
import hashlib
import json

import pytest

from ansible.playbook.play_context import PlayContext
from ansible.playbook.task import Task
from ansible.plugins.loader import shell_loader

from ansible_collections.qim.setup.plugins.action import deploy as deploy_action
from ansible_collections.qim.setup.plugins.action import settings as settings_action

TOOL = "C:\\Program Files\\QIM\\wassetup\\bin\\wassetup.exe"
PREFS = "C:\\Users\\qim\\AppData\\Roaming\\wassetup"
SETTINGS_FILE = PREFS + "\\QIMSetup.prefs"
RECORD = PREFS + "\\QIMSetup.deployed.json"
TEMP = "C:\\Users\\qim\\AppData\\Local\\Temp\\ansible-tmp-1"
USER_SID = "S-1-5-21-3623811015-3361044348-30300820-1013"
OWNER_ONLY = {USER_SID, "S-1-5-18", "S-1-5-32-544"}
# What a file in the preference folder inherits: the owner-only three and the local Users.
INHERITED = OWNER_ONLY | {"S-1-5-32-545"}
CANARY = "Canary-9c1e-pw"
MASK = "********"
HOST_OPTIONS = ("--prefs-dir", "--catalog-dir", "--plugin", "--separator", "--db-product",
                "--was-dir", "--nuv-servlet")
KNOWN_KEYS = ("qimdirrt", "smtp", "nuvip", "databaseHost", "databasePassword", "mqpass")
SECRET_KEYS = ("databasePassword", "mqpass")
SETTINGS = {"qimdirrt": "D:\\QIM\\runtime", "smtp": "mail.example.com", "nuvip": "10.0.0.2"}
DEPLOY = {"wassetup": TOOL, "java": "C:\\Java\\bin\\java.exe", "script_dir": "C:\\QIM\\scripts"}


class FakeWassetup:
    """wassetup on the host: its stored settings and its answers (status, stdout, stderr)."""

    def __init__(self):
        self.version = "wassetup 0.2.0\n"
        self.stored = {}
        self.fail_on = None

    def __call__(self, argv, stdin):
        words = list(argv[1:])
        while words and words[0] in HOST_OPTIONS:
            words = words[2:]
        if words == ["--version"]:
            return 0, self.version, ""
        given = dict((e["key"], e["value"]) for e in json.loads(stdin)["settings"]) \
            if "--from" in words else {}
        unknown = sorted(set(given) - set(KNOWN_KEYS))
        if unknown:
            return 2, "", "wassetup: unknown setting '%s'\n" % unknown[0]
        if words[0] == "set":
            return 0, json.dumps(self.set(given, "--dry-run" in words)), ""
        if words[0] == "plan":
            return 0, json.dumps(self.plan(dict(self.stored, **given))), ""
        return self.deploy(words)

    def set(self, given, dry_run):
        changes = []
        for key, value in given.items():
            if self.stored.get(key, "") == value:
                continue
            secret = key in SECRET_KEYS
            changes.append(dict(key=key, secret=secret,
                                old=MASK if secret and self.stored.get(key) else
                                ("" if secret else self.stored.get(key, "")),
                                new=MASK if secret and value else value))
        if not dry_run:
            self.stored.update(given)
        return dict(format_version="1.0", dry_run=dry_run, stored=not dry_run,
                    settings_file=SETTINGS_FILE, changes=changes, validation=dict(valid=True))

    @staticmethod
    def plan(settings):
        java = dict(kind="java", options=["-DLoadJars=QimPlugInBatch.jar"])
        commands = [
            dict(tag="qim_copy", kind="script", script="QIMFilesCp.bat",
                 arguments=[settings.get("qimdirrt", "")]),
            dict(java, tag="java_app", arguments=[
                settings.get("smtp", ""), MASK if settings.get("databasePassword") else ""],
                **{"class": "UpdateQIMFiles"}),
            dict(java, tag="java_nuvdef", arguments=[settings.get("nuvip", ""), "1416"],
                 **{"class": "UpdateQIMFiles"}),
        ]
        for command in commands:
            command["line"] = " ".join([command.get("script", "java")] + command["arguments"])
        return {"format_version": "1.0", "commands": commands,
                "dataSource": {"Host": settings.get("databaseHost", "localhost"),
                               "Password": MASK, "JndiName": "jdbc/QIM"},
                "javaVariables": [{"name": "ws.ext.dirs", "value": "C:\\FMC\\fmcojagt.jar"}]}

    def deploy(self, words):
        commands = self.plan(self.stored)["commands"]
        tags = [command["tag"] for command in commands]
        start = tags.index(words[words.index("--start-at") + 1]) if "--start-at" in words else 0
        steps, document = [], dict(format_version="1.0", status="finished")
        for index, command in enumerate(commands):
            state = "skipped" if index < start else "done"
            if document["status"] == "failed":
                state = "pending"
            elif index >= start and command["tag"] == self.fail_on:
                state = "failed"
                document.update(status="failed", failure=dict(
                    tag=command["tag"], title="QIM setup step failed",
                    text="Writing the NUV queue-manager definition failed: exit status 3",
                    resume_tag=command["tag"]))
            steps.append(dict(tag=command["tag"], state=state, line=command["line"]))
        document["steps"] = steps
        return (1 if document["status"] == "failed" else 0), json.dumps(document), ""


class FakeWindowsHost:
    """The modules an action runs on the host, answered as ansible.windows documents them."""

    def __init__(self):
        self.tool = FakeWassetup()
        self.files = {}
        self.folders = {PREFS, "C:\\QIM"}
        self.links = set()
        self.access = {}
        self.transfers = {}
        self.calls = []

    def execute(self, name, arguments):
        self.calls.append((name, arguments))
        collection, _dot, leaf = name.rpartition(".")
        handler = getattr(self, leaf, None)
        if collection not in ("ansible.windows", "") or handler is None:
            return dict(failed=True, msg="no module %s on this host" % name)
        if arguments["_ansible_check_mode"] and leaf == "win_command":
            return dict(changed=False, skipped=True,
                        msg="remote module (%s) does not support check mode" % name)
        return handler(arguments)

    def win_command(self, arguments):
        argv = arguments["argv"]
        line = " ".join('"%s"' % a if " " in a else a for a in argv)
        if argv[0] not in (TOOL, "wassetup"):
            return dict(changed=False, failed=True, rc=2, cmd=line, msg="Failed to run: '%s': "
                        "The system cannot find the file specified" % line)
        rc, stdout, stderr = self.tool(argv, arguments.get("stdin"))
        result = dict(changed=True, cmd=line, rc=rc, stdout=stdout, stderr=stderr,
                      stdout_lines=stdout.splitlines(), start="2026-12-06 10:00:00.000000",
                      end="2026-12-06 10:00:00.250000", delta="0:00:00.250000")
        if rc != 0:
            result.update(failed=True, msg="non-zero return code")
        return result

    def win_stat(self, arguments):
        path = arguments["path"]
        if path not in self.files and path not in self.folders:
            return dict(changed=False, stat=dict(exists=False))
        isdir = path in self.folders
        stat = dict(exists=True, isdir=isdir, isreg=not isdir, islnk=False, isjunction=False,
                    path=path, owner="WAS-WIN-1\\qim", attributes="Archive")
        if path in self.links:
            stat.update(islnk=not isdir, isjunction=isdir)
        if not isdir:
            stat.update(filename=path.rsplit("\\", 1)[1],
                        extension="." + path.rsplit(".", 1)[1] if "." in path else "")
        return dict(changed=False, stat=stat)

    def slurp(self, arguments):
        data = self.files[arguments["src"]].encode("utf-8")
        return dict(changed=False, content=base64.b64encode(data).decode("ascii"),
                    encoding="base64", source=arguments["src"])

    def win_copy(self, arguments):
        dest, text = arguments["dest"], self.transfers[arguments["src"]]
        self.files[dest] = text
        self.access.setdefault(dest, dict(inherited=set(INHERITED), explicit=set()))
        return dict(changed=True, dest=dest, src=arguments["src"], operation="file_copy",
                    checksum=hashlib.sha1(text.encode("utf-8")).hexdigest(), size=len(text),
                    original_basename=arguments["_original_basename"])

    def win_whoami(self, arguments):
        return dict(changed=False, logon_type="Network", account=dict(
            account_name="qim", domain_name="WAS-WIN-1", sid=USER_SID, type="User"))

    def win_acl(self, arguments):
        explicit = self.access[arguments["path"]]["explicit"]
        changed = arguments["user"] not in explicit
        explicit.add(arguments["user"])
        return dict(changed=changed)

    def win_acl_inheritance(self, arguments):
        # Protecting the list drops the inherited entries, or copies them with reorganize.
        access = self.access[arguments["path"]]
        changed = bool(access["inherited"])
        if arguments["reorganize"]:
            access["explicit"] |= access["inherited"]
        access["inherited"] = set()
        return dict(changed=changed)

    def modules(self):
        """The name of each module run, without its collection."""
        return [name.rpartition(".")[2] for name, _arguments in self.calls]

    def commands(self):
        """The wassetup words of each win_command, without the program and host options."""
        return [[word for word in arguments["argv"][1:] if word not in (PREFS,)
                 and word not in HOST_OPTIONS]
                for name, arguments in self.calls if name.endswith("win_command")]


class FakeConnection:
    socket_path = None
    become = None

    def __init__(self, shell):
        self._shell = shell_loader.get(shell)

    def get_option(self, name):
        raise KeyError(name)


def run(module, host, arguments, task_vars=None, check_mode=False, diff=False,
        shell="powershell"):
    """The result of the action `module` with `arguments`, its host modules run by `host`."""
    base = dict(settings=settings_action.ActionModule, deploy=deploy_action.ActionModule)[module]

    class OnFakeHost(base):
        def _execute_module(self, module_name=None, module_args=None, tmp=None,
                            task_vars=None, **_kwargs):
            self._update_module_args(module_name, module_args, task_vars)
            return host.execute(module_name, module_args)

        def make_tmp_path(self):
            return TEMP

        def transfer_data(self, path, data):
            host.transfers[path] = data

    task = Task()
    task.args = dict(arguments, prefs_dir=PREFS)
    task.check_mode = check_mode
    task.diff = diff
    action = OnFakeHost(task, FakeConnection(shell), PlayContext(), None, None, None)
    return action.run(task_vars=task_vars or {})


def assert_never_shown(host, result, password=CANARY):
    """The password reaches the tool on standard input only, from calls that log nothing, and
    no result or record holds it."""
    for name, arguments in host.calls:
        assert password not in json.dumps(arguments.get("argv", [])), name
        if password in json.dumps(arguments):
            assert arguments.get("stdin") and arguments["_ansible_no_log"] is True, name
    assert password not in json.dumps(result)
    assert all(password not in text for text in host.files.values())


def test_settings_are_applied_on_stdin_and_a_second_run_changes_nothing():
    host = FakeWindowsHost()
    first = run("settings", host, dict(wassetup=TOOL, settings=SETTINGS,
                                       database_password=CANARY))
    assert first["changed"] and not first.get("failed"), first
    assert first["settings_file"] == SETTINGS_FILE
    assert {c["key"] for c in first["changes"]} == set(SETTINGS) | {"databasePassword"}
    assert host.tool.stored == dict(SETTINGS, databasePassword=CANARY)
    assert host.commands() == [["--version"], ["set", "--from", "-", "--dry-run", "--json"],
                               ["set", "--from", "-", "--json"]]
    assert_never_shown(host, first)

    host.calls.clear()
    second = run("settings", host, dict(wassetup=TOOL, settings=SETTINGS,
                                        database_password=CANARY))
    assert not second["changed"] and second["changes"] == []
    assert host.commands() == [["--version"], ["set", "--from", "-", "--dry-run", "--json"]]


def test_check_mode_stores_nothing_and_the_deployment_plans_from_the_pending_settings():
    host = FakeWindowsHost()
    run("settings", host, dict(wassetup=TOOL, settings=SETTINGS, database_password=CANARY))
    run("deploy", host, DEPLOY)
    stored, record = dict(host.tool.stored), host.files[RECORD]
    host.calls.clear()

    preview = run("settings", host, dict(wassetup=TOOL, settings={"nuvip": "10.9.9.9"},
                                         database_password="other-" + CANARY),
                  check_mode=True, diff=True)
    assert preview["changed"] and host.tool.stored == stored
    assert "databasePassword=%s (changed)" % MASK in preview["diff"]["after"]
    pending = preview["ansible_facts"]["qim_setup_pending_settings"][SETTINGS_FILE]
    assert pending == {"settings": [{"key": "nuvip", "value": "10.9.9.9"}],
                       "secrets_changed": ["databasePassword"]}
    planned = run("deploy", host, DEPLOY, task_vars={"ansible_facts": preview["ansible_facts"]},
                  check_mode=True)
    assert planned["status"] == "planned" and planned["start_at"] == "java_app"
    assert ["plan", "--from", "-", "--json"] in host.commands()
    assert not any(words[0] == "deploy" for words in host.commands())
    assert not {"win_copy", "win_acl"} & set(host.modules())
    assert host.files[RECORD] == record
    assert_never_shown(host, preview, "other-" + CANARY)


@pytest.mark.parametrize("key", ["databasePassword", "mqpass", "dbPassword"])
def test_a_password_among_the_settings_is_refused_before_the_host_is_asked(key):
    host = FakeWindowsHost()
    result = run("settings", host, dict(wassetup=TOOL, settings=dict(SETTINGS, **{key: CANARY})))
    assert result["failed"] and "%s (give it with" % key in result["msg"]
    assert host.calls == []
    assert_never_shown(host, result)


def test_a_deployment_writes_an_owner_only_record_and_deploys_only_what_differs():
    host = FakeWindowsHost()
    run("settings", host, dict(wassetup=TOOL, settings=SETTINGS, database_password=CANARY))
    first = run("deploy", host, DEPLOY)
    assert first["changed"] and first["status"] == "finished", first
    assert host.commands()[-1] == ["deploy", "--json", "--java", DEPLOY["java"],
                                   "--script-dir", DEPLOY["script_dir"]]
    assert first["record"] == RECORD
    assert [s["tag"] for s in json.loads(host.files[RECORD])["steps"]] == \
        ["qim_copy", "java_app", "java_nuvdef"]
    assert host.access[RECORD] == dict(inherited=set(), explicit=OWNER_ONLY)
    modules = host.modules()
    written = modules[modules.index("win_copy"):]
    assert written[-1] == "win_acl_inheritance" and written.count("win_acl") == 3
    assert_never_shown(host, first)

    host.calls.clear()
    second = run("deploy", host, DEPLOY)
    assert not second["changed"] and second["status"] == "up to date"
    assert not any(words[0] == "deploy" for words in host.commands())

    run("settings", host, dict(wassetup=TOOL, settings={"nuvip": "10.0.9.2"}))
    third = run("deploy", host, DEPLOY)
    assert third["changed"] and third["start_at"] == "java_nuvdef"
    assert "deploying from java_nuvdef, the first step that differs" in third["msg"]
    assert host.commands()[-1][-2:] == ["--start-at", "java_nuvdef"]

    run("settings", host, dict(wassetup=TOOL, database_password="second-" + CANARY))
    assert json.loads(host.files[RECORD])["secrets_changed"] == ["databasePassword"]
    assert host.access[RECORD] == dict(inherited=set(), explicit=OWNER_ONLY)
    fourth = run("deploy", host, DEPLOY)
    assert fourth["start_at"] == "java_app"
    assert_never_shown(host, fourth, "second-" + CANARY)


def test_a_failed_step_names_the_resume_and_the_next_run_starts_there():
    host = FakeWindowsHost()
    run("settings", host, dict(wassetup=TOOL, settings=SETTINGS, database_password=CANARY))
    host.tool.fail_on = "java_nuvdef"
    failed = run("deploy", host, dict(DEPLOY, resume_hint="-e qim_setup_start_at=%s"))
    assert failed["failed"] and failed["resume_tag"] == "java_nuvdef"
    assert failed["msg"].startswith("java_nuvdef: QIM setup step failed Writing the NUV")
    assert failed["msg"].endswith("(after fixing the cause, rerun with "
                                  "-e qim_setup_start_at=java_nuvdef)")
    assert [s["tag"] for s in json.loads(host.files[RECORD])["steps"]] == ["qim_copy", "java_app"]
    assert host.access[RECORD] == dict(inherited=set(), explicit=OWNER_ONLY)

    host.tool.fail_on = None
    resumed = run("deploy", host, DEPLOY)
    assert resumed["status"] == "finished" and resumed["start_at"] == "java_nuvdef"


@pytest.mark.parametrize("folder", [False, True], ids=["symbolic link", "junction"])
def test_a_link_in_the_records_place_is_refused_and_nothing_runs(folder):
    host = FakeWindowsHost()
    run("settings", host, dict(wassetup=TOOL, settings=SETTINGS))
    (host.folders if folder else host.files).update({RECORD} if folder else {RECORD: "{}"})
    host.links.add(RECORD)
    result = run("deploy", host, dict(DEPLOY, force=True))
    assert result["failed"] and "QIMSetup.deployed.json is a symbolic link" in result["msg"]
    assert not any(words[0] == "deploy" for words in host.commands())
    assert "win_copy" not in host.modules()


@pytest.mark.parametrize("module", ["settings", "deploy"])
def test_an_older_wassetup_is_named_with_the_version_needed(module):
    host = FakeWindowsHost()
    host.tool.version = "wassetup 0.1.0\n"
    result = run(module, host, dict(wassetup=TOOL, settings=SETTINGS) if module == "settings"
                 else DEPLOY)
    assert result["failed"]
    assert result["msg"] == ("the collection needs wassetup 0.2.0 or newer; the managed host "
                             "has 0.1.0")
    assert host.commands() == [["--version"]]


@pytest.mark.parametrize("program, why", [
    ("qimsetup", "is no program in the PATH of the managed host"),
    ("C:\\QIM\\wassetup.exe", "is not a regular executable file: it cannot be found"),
    ("C:\\QIM", "is not a regular executable file: it is a folder"),
    ("C:\\QIM\\notes.txt", "is not a regular executable file: it is not executable"),
])
def test_a_wassetup_that_cannot_start_fails_saying_why(program, why):
    host = FakeWindowsHost()
    host.files["C:\\QIM\\notes.txt"] = "not a program"
    result = run("deploy", host, dict(DEPLOY, wassetup=program))
    assert result["failed"] and result["msg"] == "wassetup: '%s' %s" % (program, why)


@pytest.mark.parametrize("shell, facts, first_module", [
    ("powershell", {}, "ansible.windows.win_command"),
    ("cmd", {"os_family": "Windows"}, "ansible.windows.win_command"),
    ("sh", {"os_family": "Debian"}, "ansible.legacy.command"),
    ("sh", {"os_family": "Windows"}, None),
])
def test_the_connections_shell_chooses_the_modules(shell, facts, first_module):
    host = FakeWindowsHost()
    result = run("settings", host, dict(wassetup=TOOL, settings=SETTINGS),
                 task_vars={"ansible_facts": facts}, shell=shell)
    assert [name for name, _arguments in host.calls[:1]] == ([first_module] if first_module else [])
    if first_module is None:
        assert result["failed"] and "set ansible_shell_type to powershell or cmd" in result["msg"]
