#!/usr/bin/env python3
"""The changelog of the collection qim.setup, kept as antsibull-changelog keeps one (which is
not packaged in Debian): changelogs/changelog.yaml holds the releases, changelogs/fragments/
one YAML file per change until the next release, CHANGELOG.md is rendered from both.

  collection-changelog.py lint              fragments and changelog.yaml are well-formed
  collection-changelog.py release VERSION   fold the fragments into a release of today
  collection-changelog.py render [--check]  write CHANGELOG.md (--check: fail if it differs)
"""

import argparse
import datetime
import os
import sys

import yaml

COLLECTION = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "ansible",
                          "ansible_collections", "qim", "setup")

# The sections antsibull-changelog knows, in the order it renders them.
SECTIONS = (
    ("major_changes", "Major Changes"),
    ("minor_changes", "Minor Changes"),
    ("breaking_changes", "Breaking Changes / Porting Guide"),
    ("deprecated_features", "Deprecated Features"),
    ("removed_features", "Removed Features (previously deprecated)"),
    ("security_fixes", "Security Fixes"),
    ("bugfixes", "Bugfixes"),
    ("known_issues", "Known Issues"),
)
KNOWN = dict(SECTIONS, release_summary="Release Summary", trivial="Trivial")


class IndentedDumper(yaml.SafeDumper):
    """Indents lists under their key, as yamllint and ansible-lint expect."""

    def increase_indent(self, flow=False, indentless=False):
        return super().increase_indent(flow, False)


def dump(data, stream):
    stream.write("---\n")
    yaml.dump(data, stream, Dumper=IndentedDumper, sort_keys=False, width=92,
              allow_unicode=True)


def path(*parts):
    return os.path.normpath(os.path.join(COLLECTION, *parts))


def fragment_files():
    folder = path("changelogs", "fragments")
    return sorted(name for name in os.listdir(folder) if not name.startswith("."))


def fragment_problems(name, content):
    if not name.endswith((".yml", ".yaml")):
        return ["%s: a fragment is a .yml or .yaml file" % name]
    if not isinstance(content, dict) or not content:
        return ["%s: a fragment is a mapping of sections to changes" % name]
    problems = []
    for section, entries in content.items():
        if section not in KNOWN:
            problems.append("%s: unknown section %r (known: %s)" % (name, section,
                                                                    ", ".join(sorted(KNOWN))))
        elif section == "release_summary":
            if not isinstance(entries, str):
                problems.append("%s: release_summary is one text" % name)
        elif not isinstance(entries, list) or not all(isinstance(e, str) and e.strip()
                                                       for e in entries):
            problems.append("%s: %s must be a list of texts" % (name, section))
    return problems


def load(file):
    with open(file, encoding="utf-8") as stream:
        return yaml.safe_load(stream)


def lint():
    problems = []
    for name in fragment_files():
        problems += fragment_problems(name, load(path("changelogs", "fragments", name)))
    changelog = load(path("changelogs", "changelog.yaml"))
    if not isinstance(changelog, dict) or not isinstance(changelog.get("releases"), dict):
        problems.append("changelog.yaml: no releases mapping")
    else:
        for version, release in changelog["releases"].items():
            problems += fragment_problems("changelog.yaml release %s" % version + ".yml",
                                          release.get("changes") or {"trivial": []})
            if "release_date" not in release:
                problems.append("changelog.yaml release %s: no release_date" % version)
    galaxy = load(path("galaxy.yml"))
    if str(galaxy["version"]) not in (changelog or {}).get("releases", {}) and not fragment_files():
        problems.append("galaxy.yml version %s has no release in changelog.yaml and no "
                        "fragments wait for it" % galaxy["version"])
    for problem in problems:
        print("changelog: %s" % problem, file=sys.stderr)
    return 1 if problems else 0


def release(version):
    changelog_file = path("changelogs", "changelog.yaml")
    changelog = load(changelog_file)
    if version in changelog["releases"]:
        sys.exit("changelog: %s is released already" % version)
    changes = {}
    names = fragment_files()
    for name in names:
        for section, entries in load(path("changelogs", "fragments", name)).items():
            if section == "release_summary":
                changes[section] = entries
            else:
                changes.setdefault(section, []).extend(entries)
    changes.pop("trivial", None)
    changelog["releases"][version] = dict(changes=changes, fragments=names,
                                          release_date=datetime.date.today().isoformat())
    with open(changelog_file, "w", encoding="utf-8") as stream:
        dump(changelog, stream)
    for name in names:
        os.unlink(path("changelogs", "fragments", name))
    return 0


def version_key(version):
    return tuple(int(part) if part.isdigit() else 0 for part in str(version).split("."))


def render_text():
    config = load(path("changelogs", "config.yaml"))
    changelog = load(path("changelogs", "changelog.yaml"))
    title = config.get("title", "qim.setup")
    lines = ["# %s Release Notes" % title, "", "**Topics**", ""]
    releases = sorted(changelog["releases"].items(), key=lambda item: version_key(item[0]),
                      reverse=True)
    unreleased = {}
    for name in fragment_files():
        for section, entries in load(path("changelogs", "fragments", name)).items():
            if section not in ("release_summary", "trivial"):
                unreleased.setdefault(section, []).extend(entries)
    if unreleased:
        releases.insert(0, ("Unreleased", dict(changes=unreleased)))
    for version, _ in releases:
        lines.append("- [v%s](#v%s)" % (version, str(version).replace(".", "")))
    lines.append("")
    for version, entry in releases:
        changes = entry.get("changes") or {}
        heading = "v%s" % version
        lines += ["<a id=\"%s\"></a>" % heading.replace(".", ""), "## %s" % heading, ""]
        if entry.get("release_date"):
            lines += ["Released %s." % entry["release_date"], ""]
        if changes.get("release_summary"):
            lines += ["### Release Summary", "", changes["release_summary"].strip(), ""]
        for section, heading_text in SECTIONS:
            if changes.get(section):
                lines += ["### %s" % heading_text, ""]
                lines += ["- %s" % " ".join(entry_text.split()) for entry_text in changes[section]]
                lines.append("")
    return "\n".join(lines).rstrip("\n") + "\n"


def render(check):
    text = render_text()
    target = path("CHANGELOG.md")
    if check:
        with open(target, encoding="utf-8") as stream:
            if stream.read() != text:
                print("changelog: CHANGELOG.md is not rendered from changelogs/ (run %s render)"
                      % sys.argv[0], file=sys.stderr)
                return 1
        return 0
    with open(target, "w", encoding="utf-8") as stream:
        stream.write(text)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("lint")
    release_parser = commands.add_parser("release")
    release_parser.add_argument("version")
    render_parser = commands.add_parser("render")
    render_parser.add_argument("--check", action="store_true")
    arguments = parser.parse_args()
    if arguments.command == "lint":
        return lint()
    if arguments.command == "release":
        return release(arguments.version)
    return render(arguments.check)


if __name__ == "__main__":
    sys.exit(main())
