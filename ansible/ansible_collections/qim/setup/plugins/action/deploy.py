# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""qim.setup.deploy: the plan held against the deploy record, then `wassetup deploy --json`
from the first step that differs, and the record of what ran."""

from __future__ import annotations

import json
import time

from ansible_collections.qim.setup.plugins.module_utils.wassetup import (
    DEPLOY_OPTIONS,
    EXIT_USAGE,
    RECORD_NAME,
    WassetupError,
    compare_plan,
    deploy_diff,
    failure_message,
    java_variables_by_name,
    message_of,
    new_record,
    settings_document,
)
from ansible_collections.qim.setup.plugins.plugin_utils.wassetup_action import (
    WassetupAction,
    pending_settings,
)


class ActionModule(WassetupAction):
    ARGUMENT_SPEC = DEPLOY_OPTIONS

    def perform(self, task_vars):
        settings_file = self.settings_file()
        record_path = self.params["record"] or self.target.beside(settings_file, RECORD_NAME)
        record = self.read_record(record_path)

        pending = {}
        if self._task.check_mode:
            pending = pending_settings(task_vars).get(settings_file) or {}
        if pending:
            plan = self.document(["plan", "--from", "-", "--json"],
                                 stdin=json.dumps(settings_document(pending["settings"])))
        else:
            plan = self.document(["plan", "--json"])

        java, script_dir = self.params["java"], self.params["script_dir"]
        comparison = compare_plan(plan, java, script_dir, record,
                                  pending.get("secrets_changed") or [])
        tags = [command.get("tag") for command in plan.get("commands") or []]
        start = self.start_index(tags, comparison)
        result = dict(
            plan=plan.get("commands", []),
            data_source=plan.get("dataSource", {}),
            java_variables=java_variables_by_name(plan.get("javaVariables")),
            record=record_path,
        )
        if self._task.diff:
            result["diff"] = deploy_diff(record, plan, comparison, record_path)

        if start is None:
            if not self._task.check_mode:
                result.pop("plan")
            if not comparison["outputs_differ"]:
                return dict(result, changed=False, status="up to date",
                            msg="deployed with these commands at %s"
                            % record.get("finished_at", "?"))
            if self._task.check_mode:
                return dict(result, changed=True, status="planned",
                            msg="no step differs; the record's data source or Java variables "
                            "would be updated")
            record.update(data_source=result["data_source"],
                          java_variables=result["java_variables"])
            self.target.write_private(record_path, json.dumps(record, indent=2))
            return dict(result, changed=True, status="up to date",
                        msg="no step differs; the record's data source and Java variables "
                        "were updated")

        result["start_at"] = tags[start] if start > 0 else None
        result["msg"] = self.why_it_runs(tags, start, comparison)
        if self._task.check_mode:
            return dict(result, changed=True, status="planned")
        result.pop("plan")
        return self.deploy(result, plan, record, record_path, start)

    def settings_file(self):
        """The settings file on the managed host, as the tool chooses it: the default folder
        depends on the environment of the user the task runs as."""
        preview = self.document(["set", "--from", "-", "--dry-run", "--json"],
                                stdin=json.dumps(settings_document([])))
        return preview.get("settings_file", "")

    def read_record(self, path):
        found = self.target.stat(path)
        if not found.get("exists"):
            return {}
        if found.get("islnk"):
            raise WassetupError("the deploy record %s is a symbolic link; it is neither followed "
                                "nor replaced (remove the link)" % path)
        if not found.get("isreg"):
            raise WassetupError("the deploy record %s is no regular file" % path)
        try:
            record = json.loads(self.target.read(path))
        except ValueError:
            return {}
        return record if isinstance(record, dict) else {}

    def start_index(self, tags, comparison):
        """Where the run starts: the tag the user gave, the first step with `force`, else the
        first step that differs (None: nothing to run)."""
        start_at = self.params["start_at"]
        if start_at:
            if start_at not in tags:
                raise WassetupError("start_at: the plan has no step '%s'; its steps are: %s"
                                    % (start_at, ", ".join(tags)))
            return tags.index(start_at)
        if self.params["force"]:
            return 0
        return comparison["first"]

    def why_it_runs(self, tags, start, comparison):
        if self.params["start_at"]:
            return "deploying from %s, as start_at asks" % tags[start]
        if self.params["force"]:
            return "deploying every step, as force asks"
        reason = comparison["reasons"].get(tags[start], "")
        if start == 0:
            return "deploying every step: %s differs first (%s)" % (tags[0], reason)
        return "deploying from %s, the first step that differs (%s); the %d steps before it " \
               "are deployed with these commands" % (tags[start], reason, start)

    def deploy_arguments(self, start_tag):
        arguments = ["deploy", "--json"]
        for option, flag in (("java", "--java"), ("script_dir", "--script-dir"),
                             ("log", "--log")):
            if self.params.get(option):
                arguments += [flag, self.params[option]]
        if start_tag:
            arguments += ["--start-at", start_tag]
        return arguments

    def deploy(self, result, plan, record, record_path, start):
        outcome = self.tool(self.deploy_arguments(result["start_at"]))
        try:
            document = json.loads(outcome["stdout"])
        except ValueError:
            document = None
        if outcome["rc"] == EXIT_USAGE or not isinstance(document, dict):
            raise WassetupError("wassetup deploy: %s" % (message_of(outcome["stderr"])
                                                         or "printed no JSON document"),
                                rc=outcome["rc"], stderr=outcome["stderr"])
        result.update(
            status=document.get("status", "unknown"),
            steps=document.get("steps", []),
            data_source=document.get("dataSource") or result["data_source"],
            java_variables=java_variables_by_name(document.get("javaVariables"))
            or result["java_variables"],
            stderr=outcome["stderr"],
        )
        ran = any(step.get("state") not in (None, "pending", "skipped")
                  for step in result["steps"])
        if ran:
            self.target.write_private(record_path, json.dumps(new_record(
                plan, document, self.params["java"], self.params["script_dir"], start,
                time.strftime("%Y-%m-%dT%H:%M:%S%z"), self.tool_version), indent=2))
        if outcome["rc"] != 0 or result["status"] != "finished":
            for key in ("failure", "validation", "interruption"):
                if document.get(key):
                    result[key] = document[key]
            if document.get("failure"):
                result["resume_tag"] = document["failure"].get("resume_tag")
            raise WassetupError(failure_message(document, outcome["stderr"],
                                                self.params["resume_hint"]),
                                **dict(result, changed=ran, rc=outcome["rc"]))
        return dict(result, changed=True)
