# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""The pure side of the collection: versions, password keys, settings documents, messages and
the deploy record held against a plan."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import copy

import pytest

from ansible_collections.qim.setup.plugins.module_utils import wassetup as w


@pytest.mark.parametrize("printed, accepted", [
    ("wassetup 0.2.0\n", True),
    ("wassetup 0.10.0", True),
    ("wassetup 1.0", True),
    ("wassetup 0.1.9", False),
    ("wassetup 0.1.0", False),
    ("", False),
    ("usage: wassetup", False),
])
def test_the_version_check_compares_numbers_not_text(printed, accepted):
    if accepted:
        w.check_version(printed)
        return
    with pytest.raises(w.WassetupError) as refused:
        w.check_version(printed)
    assert "needs wassetup 0.2.0 or newer" in str(refused.value)


def test_the_version_refusal_names_what_the_host_has():
    with pytest.raises(w.WassetupError) as refused:
        w.check_version("wassetup 0.1.0")
    assert str(refused.value).endswith("the managed host has 0.1.0")


@pytest.mark.parametrize("key, option", [
    ("databasePassword", "database_password"),
    ("DATABASEPASSWORD", "database_password"),
    ("mqpass", "mq_password"),
    ("MQPass", "mq_password"),
    ("mqPassword", "mq_password"),
    ("dbPassword", "database_password"),
    ("mquser", None),
    ("databaseUser", None),
    ("smtp", None),
])
def test_password_keys_are_found_in_any_case_and_spelling(key, option):
    assert w.password_option_for(key) == option


def test_the_refusal_names_each_key_and_its_option_but_no_value():
    found = w.passwords_in_settings({"smtp": "mail", "mqPassword": "s3cret",
                                     "databasePassword": 1234})
    message = w.refusal_of_passwords(found)
    assert "mqPassword (give it with mq_password)" in message
    assert "databasePassword (give it with database_password)" in message
    assert "s3cret" not in message and "1234" not in message


@pytest.mark.parametrize("value, text", [
    (True, "true"), (False, "false"), (50001, "50001"), (1.5, "1.5"), ("a b", "a b"),
])
def test_setting_values_become_the_tools_text(value, text):
    assert w.settings_entries({"k": value}) == [{"key": "k", "value": text}]


@pytest.mark.parametrize("value", [["a"], {"a": 1}, None])
def test_a_setting_that_is_no_scalar_is_refused_by_key(value):
    with pytest.raises(w.WassetupError, match="the value of 'qimmq'"):
        w.settings_entries({"qimmq": value})


def test_passwords_join_the_document_under_their_keys_only_when_given():
    document = w.settings_document([{"key": "smtp", "value": "m"}],
                                   {"database_password": "d", "mq_password": None})
    assert document == {"format_version": "1.0", "settings": [
        {"key": "smtp", "value": "m"}, {"key": "databasePassword", "value": "d"}]}


def test_the_diff_names_a_password_and_never_shows_it():
    diff = w.diff_of([{"key": "mqpass", "old": "", "new": "********", "secret": True},
                      {"key": "databasePassword", "old": "********", "new": "", "secret": True},
                      {"key": "smtp", "old": "a", "new": "b", "secret": False}], "/p/QIMSetup.prefs")
    assert diff["before"] == "mqpass=(none)\ndatabasePassword=********\nsmtp=a\n"
    assert diff["after"] == "mqpass=******** (changed)\ndatabasePassword=(none)\nsmtp=b\n"


FAILED = {"status": "failed", "failure": {"tag": "java_nuvdef", "title": "QIM setup step failed",
                                          "text": "Writing failed", "resume_tag": "java_nuvdef"}}


@pytest.mark.parametrize("document, hint, expected", [
    (FAILED, "start_at: %s", "java_nuvdef: QIM setup step failed Writing failed "
     "(after fixing the cause, rerun with start_at: java_nuvdef)"),
    (FAILED, "-e qim_setup_start_at=%s", "java_nuvdef: QIM setup step failed Writing failed "
     "(after fixing the cause, rerun with -e qim_setup_start_at=java_nuvdef)"),
    (FAILED, "100% sure, start_at", "java_nuvdef: QIM setup step failed Writing failed "
     "(after fixing the cause, rerun with 100% sure, start_at java_nuvdef)"),
    ({"status": "interrupted", "interruption": {"during_step": "java_app", "resume_tag": "java_app"}},
     "start_at: %s", "interrupted at java_app (rerun with start_at: java_app)"),
    ({"status": "invalid", "validation": {"page": "QIMDatabasePage", "title": "Missing setting",
                                          "text": "The field 'Database port' must not be empty."}},
     "start_at: %s", "Missing setting (page QIMDatabasePage): The field 'Database port' must not "
     "be empty."),
    ({"status": "failed"}, "start_at: %s", "something broke"),
])
def test_the_failure_message_names_what_to_set_to_resume(document, hint, expected):
    assert w.failure_message(document, "wassetup: something broke\n", hint) == expected


# ---- the deploy record ----

def command(tag, kind="java", arguments=("a",), line=None):
    composed = {"tag": tag, "kind": kind, "arguments": list(arguments),
                "line": line or "%s %s" % (tag, " ".join(arguments))}
    if kind == "java":
        composed.update({"options": ["-DLoadJars=QimPlugInBatch.jar"], "class": "C." + tag})
    else:
        composed["script"] = tag + ".bat"
    return composed


def plan_of(*commands):
    return {"commands": list(commands), "dataSource": {"Host": "db1", "Password": "********"},
            "javaVariables": [{"name": "ws.ext.dirs", "value": "x.jar"}]}


PLAN = plan_of(command("qim_copy", "script", ("C:\\QIM", "/srv/qim")),
               command("java_app", arguments=("db2admin", "********", "mail")),
               command("java_nuvdef", arguments=("10.0.0.2", "1416")),
               command("java_dbsetup", "script", ("QIMDB", "********")))


def finished(plan, state_of=None):
    """The deploy document of a run in which every step ends as `state_of` says (done)."""
    state_of = state_of or {}
    return {"status": "finished", "steps": [
        {"tag": c["tag"], "state": state_of.get(c["tag"], "done"), "line": c["line"]}
        for c in plan["commands"]], "dataSource": plan["dataSource"],
        "javaVariables": plan["javaVariables"]}


def recorded(plan=None, java="/opt/java", scripts="/opt/scripts"):
    plan = plan or PLAN
    return w.new_record(plan, finished(plan), java, scripts, 0, "now", "wassetup 0.2.0")


def test_a_plan_without_a_record_deploys_every_step():
    comparison = w.compare_plan(PLAN, "/opt/java", "/opt/scripts", {})
    assert comparison["first"] == 0
    assert set(comparison["reasons"].values()) == {"not deployed yet"}


def test_the_record_of_a_finished_run_leaves_nothing_to_run():
    comparison = w.compare_plan(PLAN, "/opt/java", "/opt/scripts", recorded())
    assert comparison == {"first": None, "reasons": {}, "outputs_differ": False}


def test_a_tool_that_composes_the_same_commands_changes_nothing():
    # Another version may print the lines differently; only the composed commands count.
    upgraded = copy.deepcopy(PLAN)
    for planned in upgraded["commands"]:
        planned["line"] = "quoted differently: " + planned["line"]
    assert w.compare_plan(upgraded, "/opt/java", "/opt/scripts", recorded())["first"] is None


@pytest.mark.parametrize("change, first, why", [
    (lambda p: p["commands"][2]["arguments"].__setitem__(0, "10.9.9.9"), 2,
     "its command differs"),
    (lambda p: p["commands"][1]["options"].append("-Dnew=1"), 1, "its command differs"),
    (lambda p: p["commands"][3].__setitem__("script", "Other.bat"), 3, "its command differs"),
    (lambda p: p["commands"].append(command("java_new")), 4, "not deployed yet"),
])
def test_a_different_command_deploys_from_the_first_step_that_differs(change, first, why):
    changed = copy.deepcopy(PLAN)
    change(changed)
    comparison = w.compare_plan(changed, "/opt/java", "/opt/scripts", recorded())
    assert comparison["first"] == first
    assert comparison["reasons"][changed["commands"][first]["tag"]] == why


@pytest.mark.parametrize("java, scripts, first", [
    ("/opt/java17", "/opt/scripts", 1),   # the first Java step
    ("/opt/java", "/srv/scripts", 0),     # the first script step
])
def test_another_launcher_or_script_folder_runs_the_steps_that_use_it(java, scripts, first):
    assert w.compare_plan(PLAN, java, scripts, recorded())["first"] == first


def test_a_changed_password_runs_again_from_the_first_step_that_carries_one():
    record = dict(recorded(), secrets_changed=["databasePassword"])
    comparison = w.compare_plan(PLAN, "/opt/java", "/opt/scripts", record)
    assert comparison["first"] == 1
    assert sorted(comparison["reasons"]) == ["java_app", "java_dbsetup"]
    pending = w.compare_plan(PLAN, "/opt/java", "/opt/scripts", recorded(), ["mqpass"])
    assert pending["first"] == 1


@pytest.mark.parametrize("record", [
    {"fingerprint": "a digest of an older collection", "finished_at": "then"},
    dict(recorded(), format_version="1"),
    [],
])
def test_a_record_in_another_format_deploys_every_step(record):
    assert w.compare_plan(PLAN, "/opt/java", "/opt/scripts", record)["first"] == 0


def test_another_data_source_alone_is_told_apart_from_a_step_that_differs():
    changed = copy.deepcopy(PLAN)
    changed["dataSource"]["Host"] = "db2"
    comparison = w.compare_plan(changed, "/opt/java", "/opt/scripts", recorded())
    assert comparison["first"] is None and comparison["outputs_differ"]


def test_a_failed_run_records_the_steps_that_finished_so_the_next_starts_at_the_failure():
    document = finished(PLAN, {"java_nuvdef": "failed", "java_dbsetup": "pending"})
    document["status"] = "failed"
    record = w.new_record(PLAN, document, "/opt/java", "/opt/scripts", 0, "now", "v")
    assert [step["tag"] for step in record["steps"]] == ["qim_copy", "java_app"]
    comparison = w.compare_plan(PLAN, "/opt/java", "/opt/scripts", record)
    assert comparison["first"] == 2


def test_a_resumed_run_records_every_step_so_the_next_run_is_up_to_date():
    # Before the start the steps are skipped (the failed run did them, or the user's
    # start_at says they are deployed); from it the run did them.
    resumed = finished(PLAN, {"qim_copy": "skipped", "java_app": "skipped"})
    record = w.new_record(PLAN, resumed, "/opt/java", "/opt/scripts", 2, "now", "v")
    assert [step["tag"] for step in record["steps"]] == [c["tag"] for c in PLAN["commands"]]
    assert "secrets_changed" not in record
    assert w.compare_plan(PLAN, "/opt/java", "/opt/scripts", record)["first"] is None


def test_a_step_with_nothing_to_run_counts_as_deployed_but_a_pending_one_does_not():
    document = finished(PLAN, {"java_nuvdef": "skipped", "java_dbsetup": "pending"})
    record = w.new_record(PLAN, document, "/opt/java", "/opt/scripts", 0, "now", "v")
    assert [step["tag"] for step in record["steps"]] == ["qim_copy", "java_app", "java_nuvdef"]


def test_the_diff_marks_each_step_that_differs_with_why():
    changed = copy.deepcopy(PLAN)
    changed["commands"][2]["arguments"][0] = "10.9.9.9"
    comparison = w.compare_plan(changed, "/opt/java", "/opt/scripts", recorded())
    diff = w.deploy_diff(recorded(), changed, comparison, "/p/QIMSetup.deployed.json")
    marked = [line for line in diff["after"].splitlines() if "<-" in line]
    assert marked == ["java_nuvdef: java_nuvdef 10.0.0.2 1416  <- its command differs"]
    assert diff["before"].count("\n") == 4
