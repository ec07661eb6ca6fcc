#include "core/documents.h"

#include "core/deploy_text.h"
#include "core/secrets.h"

namespace wassetup {

namespace {

using Json = nlohmann::ordered_json;

Json OrNull(const std::optional<std::string>& value) {
  return value ? Json(*value) : Json(nullptr);
}

const char* KindName(ComposedCommand::Kind kind) {
  switch (kind) {
    case ComposedCommand::Kind::kJava:
      return "java";
    case ComposedCommand::Kind::kScript:
      return "script";
    case ComposedCommand::Kind::kNone:
      break;
  }
  return "none";
}

Json FileChangesDocument(const std::vector<zaf::FileChange>& changes) {
  Json documents = Json::array();
  for (const zaf::FileChange& change : changes) {
    documents.push_back(Json{{"action", ChangeAction(change)},
                             {"from", change.from.empty() ? Json(nullptr) : Json(change.from)},
                             {"to", change.to},
                             {"text", DescribeChange(change)}});
  }
  return documents;
}

// A step as the plan shows it: the command composed, secrets masked.
Json PlanStepDocument(const Step& step) {
  const ComposedCommand& command = step.shown;
  Json document{{"tag", step.tagText}, {"kind", KindName(command.kind)}};
  if (command.kind == ComposedCommand::Kind::kScript) {
    document["script"] = command.script;
  }
  if (command.kind == ComposedCommand::Kind::kJava) {
    document["options"] = command.options;
    document["class"] = command.className;
  }
  document["arguments"] = command.arguments;
  document["line"] = command.line;
  document["file_changes"] = FileChangesDocument(step.fileChanges);
  return document;
}

// A step as a deployment ran it: its state, the command as shown, and how it ended.
Json RunStepDocument(const Step& step) {
  return Json{{"tag", step.tagText},
              {"state", StepStateName(step.state)},
              {"line", step.composed ? Json(step.shown.line) : Json(nullptr)},
              {"argv", step.composed ? Json(step.shown.argv) : Json(nullptr)},
              {"exit_status", step.exitStatus ? Json(*step.exitStatus) : Json(nullptr)},
              {"duration_ms", step.durationMs}};
}

Json DataSourceDocument(const DataSource& dataSource) {
  Json document{{"count", dataSource.count}};
  for (const DataSourceSetting& setting : dataSource.settings) {
    document[setting.name] = OrNull(setting.value);
  }
  return document;
}

Json JavaVariablesDocument(const std::vector<JavaVariable>& variables) {
  Json document = Json::array();
  for (const JavaVariable& variable : variables) {
    document.push_back(Json{{"name", variable.name}, {"value", variable.value}});
    if (!variable.emptyReason.empty()) {
      document.back()["empty_reason"] = variable.emptyReason;
    }
  }
  return document;
}

Json GridOf(const ZAFDialog& widget) {
  const auto& grid = widget.GetGridConstraints();
  if (!grid) {
    return nullptr;
  }
  return Json{{"row", grid->row},
              {"column", grid->column},
              {"columnSpan", grid->columnSpan},
              {"rowSpan", grid->rowSpan},
              {"justification", grid->justification}};
}

Json WidgetDocument(const ZAFDlgTabContainer& form, const ZAFDialog& widget, bool reveal,
                    bool forDialog) {
  const auto* editor = dynamic_cast<const ZAFDlgEditor*>(&widget);
  const auto* check = dynamic_cast<const ZAFDlgCheckButton*>(&widget);
  const ZAFDialog* parent = widget.GetParent();
  Json document;
  document["name"] = widget.GetResourceName().str();
  document["type"] = widget.GetClassName();
  document["parent"] = parent != nullptr ? Json(parent->GetResourceName().str()) : Json(nullptr);
  document["style"] = widget.GetStyle();
  document["title"] = widget.HasTitle() ? Json(widget.GetTitle().str()) : Json(nullptr);
  document["text"] = editor != nullptr ? Json(ShownText(*editor, reveal)) : Json(nullptr);
  document["state"] =
      check != nullptr ? Json(check->IsChecked() ? "checked" : "unchecked") : Json(nullptr);
  document["grid"] = GridOf(widget);
  document["sensitivity"] =
      widget.GetSensitivity() ? Json(*widget.GetSensitivity()) : Json(nullptr);
  document["usable"] = widget.IsUsable();
  document["resizableRows"] = widget.GetResizableRows();
  document["resizableColumns"] = widget.GetResizableColumns();
  if (forDialog) {
    document["id"] = widget.GetCreationIndex();
    document["parentId"] =
        parent == nullptr || parent == &form ? Json(nullptr) : Json(parent->GetCreationIndex());
    document["masked"] = editor != nullptr && editor->IsMasked();
  }
  return document;
}

}  // namespace

Json ValidationDocument(const Validation& validation, bool withValid, const PageRendering& page) {
  Json document = withValid ? Json{{"valid", validation.page == nullptr}} : Json::object();
  if (validation.page != nullptr) {
    document["page"] =
        page ? page(*validation.page) : Json(validation.page->GetResourceName().str());
    document["title"] = validation.title;
    document["text"] = validation.text;
  }
  return document;
}

Json PlanDocument(const Plan& plan) {
  Json tags = Json::array();
  Json commands = Json::array();
  for (const Step& step : plan.steps) {
    tags.push_back(step.tagText);
    commands.push_back(PlanStepDocument(step));
  }
  return Json{{"format_version", kFormatVersion},
              {"tags", std::move(tags)},
              {"commands", std::move(commands)},
              {"dataSource", DataSourceDocument(plan.dataSource)},
              {"javaVariables", JavaVariablesDocument(plan.javaVariables)}};
}

Json RunDocument(const DeployRun& run) {
  Json steps = Json::array();
  for (const Step& step : run.steps) {
    steps.push_back(RunStepDocument(step));
  }
  Json document{{"format_version", kFormatVersion},
                {"status", DeployStatusName(run.status)},
                {"start_at", run.startAt.empty() ? Json(nullptr) : Json(run.startAt)},
                {"steps", std::move(steps)}};
  if (run.status == DeployStatus::kFailed) {
    document["failure"] =
        Json{{"tag", run.ResumeTag()},        {"title", run.failure->title},
             {"text", run.failure->text},     {"detail", run.failure->detail},
             {"resume_tag", run.ResumeTag()}, {"resume_command", ResumeCommand(run)}};
  }
  if (run.status == DeployStatus::kInterrupted) {
    document["interruption"] = Json{{"during_step", CutOffDuringStep(run)},
                                    {"resume_tag", run.ResumeTag()},
                                    {"resume_command", ResumeCommand(run)}};
  }
  if (run.status == DeployStatus::kInvalid) {
    document["validation"] = ValidationDocument(run.validation, /*withValid=*/false);
    return document;
  }
  document["dataSource"] = DataSourceDocument(run.dataSource);
  document["javaVariables"] = JavaVariablesDocument(run.javaVariables);
  return document;
}

Json InfoDocument(const std::string& symbolicName, const std::vector<JavaVariable>& variables) {
  return Json{{"format_version", kFormatVersion},
              {"symbolic_name", symbolicName},
              {"javaVariables", JavaVariablesDocument(variables)}};
}

Json ChangesDocument(const std::vector<SettingChange>& changes, bool stored,
                     const std::string& settingsFile, const Validation& validation, bool reveal) {
  Json listed = Json::array();
  for (const SettingChange& change : changes) {
    listed.push_back(Json{{"key", change.key},
                          {"old", Shown(change.before, change.secret, reveal)},
                          {"new", Shown(change.after, change.secret, reveal)},
                          {"secret", change.secret}});
  }
  return Json{{"format_version", kFormatVersion},
              {"dry_run", !stored},
              {"stored", stored},
              {"settings_file", settingsFile},
              {"changes", std::move(listed)},
              {"validation", ValidationDocument(validation, /*withValid=*/true)}};
}

Json FormDocument(const ZAFDlgTabContainer& form, bool reveal, bool forDialog) {
  Json widgets = Json::array();
  form.ForEachDescendant([&](const ZAFDialog& widget) {
    widgets.push_back(WidgetDocument(form, widget, reveal && !forDialog, forDialog));
  });
  return Json{{"format_version", kFormatVersion}, {"widgets", std::move(widgets)}};
}

}  // namespace wassetup
