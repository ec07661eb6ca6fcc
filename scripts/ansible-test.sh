#!/usr/bin/env bash
# The Ansible collection qim.setup (ansible/ansible_collections/qim/setup) as its users get
# it: the changelog is checked, the tarball built with `ansible-galaxy collection build` and
# installed into a scratch collections path, and what follows runs on that installed
# copy: ansible-test sanity, ansible-lint --profile production (on the built sources, its tests and
# the README's playbooks), the unit tests (pytest), then the integration playbooks of
# tests/integration/targets/ against three inventory hosts that are all this machine
# (connection local), each with its own preference folder, installation folders, fake Java
# launcher and fake scripts in a scratch folder. The README's "Many servers" example is
# extracted from README.md and run against three fresh hosts of its own. The role installs
# the package built by CPack in check mode only (a real dpkg install would change this
# machine), then runs for real with the wassetup of that package unpacked into the scratch
# folder. Any finding fails the run.
# The last line is "ansible: N passed, N failed"; the status is 0 only when all passed.
# Usage: scripts/ansible-test.sh [--keep]   (--keep leaves the scratch folder)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# ansible-test's sanity tests use Debian's linters (pylint, pycodestyle, yamllint,
# voluptuous for validate-modules) in virtual environments that see the system's packages.
# Debian's ansible package brings the collections qim.setup depends on for Windows hosts
# (ansible.windows, community.windows).
scripts/install-deps.sh ansible-core ansible ansible-lint python3-apt dpkg-dev python3-pytest \
  python3-venv python3-voluptuous python3-pycodestyle pylint yamllint
cmake --preset dev >/dev/null
cmake --build --preset dev --target wassetup QimPlugIn >/dev/null

# Debian's Python, which runs ansible and has the packages installed above (a python3 found
# first in PATH may be another).
python=/usr/bin/python3

# From here on a failed check is counted, not fatal.
set +e
work=$(mktemp -d "${TMPDIR:-/tmp}/wassetup-ansible.XXXXXX")
[ "${1:-}" = "--keep" ] || trap 'rm -rf "$work"' EXIT
started=$(date +%s)
source_collection=$root/ansible/ansible_collections/qim/setup
collection=$work/collections/ansible_collections/qim/setup
targets=$collection/tests/integration/targets

export ANSIBLE_COLLECTIONS_PATH="$work/collections"
export ANSIBLE_COLLECTIONS_SCAN_SYS_PATH=false
export ANSIBLE_LOCAL_TEMP="$work/ansible-tmp/local"
export ANSIBLE_REMOTE_TEMP="$work/ansible-tmp/remote"
export ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_STDOUT_CALLBACK=default ANSIBLE_LOAD_CALLBACK_PLUGINS=0
export ANSIBLE_DEPRECATION_WARNINGS=0 ANSIBLE_LOCALHOST_WARNING=0

hosts=(qim-test-a qim-test-b qim-test-c)
canary="Canary-$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')-pw"
passed=0
failed=0
pass() {
  passed=$((passed + 1))
  echo "ansible-test: ok: $*"
}
fail() {
  failed=$((failed + 1))
  echo "ansible-test: FAILED: $*" >&2
}
check() { # check DESCRIPTION COMMAND...: passes when the command succeeds
  local what=$1
  shift
  if "$@"; then
    pass "$what"
  else
    fail "$what"
    return 1
  fi
}
# check_logged NAME COMMAND...: as check, with the command's output in $work/NAME.log, shown
# when it fails.
check_logged() {
  local name=$1 log
  shift
  log=$work/$(printf '%s' "$name" | tr -c 'A-Za-z0-9' '-').log
  if "$@" >"$log" 2>&1; then
    pass "$name"
  else
    fail "$name"
    sed 's/^/    | /' "$log" | tail -40 >&2
  fi
}

# ansible-playbook TARGET/PLAYBOOK ARGS... with the test inventory; its output goes to
# $work/NAME.log.
playbook() {
  local name=$1 book=$2
  shift 2
  timeout 300 ansible-playbook -i "$targets/setup_qim_hosts/inventory.yml" "$targets/$book" \
    -e "qim_test_root=$work/hosts" -e "qim_test_wassetup=$root/build/dev/bin/wassetup" \
    -e "qim_test_password=$canary" "$@" >"$work/$name.log" 2>&1 || true
}
# The number in "HOST : ok=N changed=N unreachable=N failed=N ..." of the play recap.
recap() { # recap LOG HOST FIELD
  sed -n "s/^$2 *:.* $3=\([0-9]*\).*/\1/p" "$work/$1.log" | tail -1
}
show_log() { sed 's/^/    | /' "$work/$1.log" | tail -40 >&2; }
ran_clean() { # ran_clean LOG [HOST...]: every host reached, none failed
  local log=$1 host
  shift
  for host in "${@:-${hosts[@]}}"; do
    [ "$(recap "$log" "$host" failed)" = 0 ] && [ "$(recap "$log" "$host" unreachable)" = 0 ] ||
      return 1
  done
}
changed_on_every_host() {
  local log=$1 host
  shift
  for host in "${@:-${hosts[@]}}"; do [ "$(recap "$log" "$host" changed)" -gt 0 ] || return 1; done
}
changed_on_no_host() {
  local log=$1 host
  shift
  ran_clean "$log" "$@" || return 1
  for host in "${@:-${hosts[@]}}"; do [ "$(recap "$log" "$host" changed)" = 0 ] || return 1; done
}
no_password_in() { ! grep -qF -- "$canary" "$work/$1.log" && ! grep -q VALUE_SPECIFIED_IN_NO_LOG "$work/$1.log"; }
# Every file of the test hosts with its checksum (modes too), to see that nothing changed.
snapshot() {
  (cd "$work/hosts" && find . -type f -printf '%p %m\n' | sort && find . -type f -print0 | sort -z |
    xargs -0 -r sha256sum) >"$work/$1.snapshot"
}
same_snapshot() { cmp -s "$work/$1.snapshot" "$work/$2.snapshot" || { diff "$work/$1.snapshot" "$work/$2.snapshot" >&2; return 1; }; }
# The last step (the database script, as enableCT is set) ran on each of these servers.
deployed_to_the_end() {
  local host
  for host in "$@"; do grep -q '^QIMDBSetup.bat' "$work/hosts/$host/scripts.log" 2>/dev/null || return 1; done
}
step_log() { cat "$work/hosts/$1/java.log" 2>/dev/null || true; }
clear_step_logs() {
  local host
  for host in "${hosts[@]}"; do : >"$work/hosts/$host/java.log"; done
}
no_step_ran() {
  local host
  for host in "${hosts[@]}"; do [ -z "$(step_log "$host")" ] || return 1; done
}

echo "== the collection as a tarball"
check_logged "changelog fragments and releases are well-formed" \
  "$python" scripts/collection-changelog.py lint
check_logged "CHANGELOG.md is rendered from changelogs/" \
  "$python" scripts/collection-changelog.py render --check
mkdir -p "$work/dist"
check_logged "ansible-galaxy collection build" \
  ansible-galaxy collection build "$source_collection" --output-path "$work/dist"
tarball=$(ls "$work/dist"/qim-setup-*.tar.gz 2>/dev/null | head -1)
# Its dependencies come from Debian's copies (no Galaxy here): --offline resolves them
# among the folders given, so an install that succeeds shows that galaxy.yml's version ranges
# hold Debian's versions.
debian_collections=/usr/lib/python3/dist-packages/ansible_collections
check_logged "ansible-galaxy collection install (with Debian's ansible.windows and community.windows)" \
  ansible-galaxy collection install --offline "${tarball:-no-tarball}" \
  "$debian_collections/ansible/windows" "$debian_collections/community/windows" \
  -p "$work/collections"
if [ ! -d "$collection/plugins" ]; then
  echo "ansible: $passed passed, $((failed + 1)) failed"
  exit 1
fi

echo "== ansible-test sanity on the installed collection"
# ansible-test runs most sanity tests in virtual environments it fills from PyPI, which this
# machine cannot reach. Each one is made here beforehand where ansible-test would make it, as
# an environment that sees Debian's packages, and marked complete, so that every sanity test
# runs with Debian's versions of its tools. `-e` shows where a test wants its environment
# without running it; a test that wants several is asked again until it wants no new one.
sanity_python=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
sanity_home=$work/home
prepare_sanity_environments() (
  cd "$collection" || exit 1
  export HOME=$sanity_home
  local test path seen
  for test in $(ansible-test sanity --list-tests 2>/dev/null); do
    seen=""
    while :; do
      path=$(ansible-test sanity --test "$test" --local --python "$sanity_python" -e -v 2>&1 |
        sed -n 's/.*-m venv --without-pip \(.*\)$/\1/p' | head -1)
      [ -n "$path" ] && [ "$path" != "$seen" ] || break
      seen=$path
      "$python" -m venv --system-site-packages "$path" || exit 1
      echo '[]' >"$path/meta.install.json"
      echo true >"$path/meta.yaml.json"
      : >"$path/marker.txt"
    done
  done
)
sanity_skips=()
if ls "$collection/changelogs/fragments/"*.y*ml >/dev/null 2>&1; then
  # With fragments waiting, ansible-test's changelog test runs antsibull-changelog, which
  # Debian does not package; scripts/collection-changelog.py lint checked them above.
  sanity_skips+=(--skip-test changelog)
fi
check_logged "the sanity test environments" prepare_sanity_environments
check_logged "ansible-test sanity" bash -c "cd '$collection' && HOME='$sanity_home' \
  ansible-test sanity --local --python '$sanity_python' ${sanity_skips[*]}"

echo "== ansible-lint, the unit tests"
# The README's playbooks as a user copies them, linted with the collection.
readme=$work/readme
mkdir -p "$readme"
"$python" - "$root/README.md" "$readme" <<'EOF'
# Writes the YAML blocks of the README's "Many servers" section that start with a
# "# NAME.yml" line to NAME.yml in the given folder.
import re
import sys

text = open(sys.argv[1], encoding="utf-8").read()
section = text.split("\n## Many servers\n", 1)[1].split("\n## ", 1)[0]
for block in re.findall(r"```yaml\n(# (\S+\.yml)\n.*?)```", section, re.S):
    with open("%s/%s" % (sys.argv[2], block[1]), "w", encoding="utf-8") as out:
        out.write("---\n" + block[0])
EOF
check "the README's Many servers example has an inventory and a playbook" \
  test -s "$readme/inventory.yml" -a -s "$readme/site.yml"
# Its Windows inventory has no host to reach here: it is linted, and read by ansible-inventory.
check "the README's Windows inventory names its servers and their connection" \
  bash -c "ansible-inventory -i '$readme/inventory-windows.yml' --list 2>/dev/null |
    grep -q '\"ansible_connection\": \"winrm\"'"
# The collection as it is built (galaxy.yml and .ansible-lint included), with the README's
# inventory and playbook beside it; --strict makes a warning a failure too.
mkdir -p "$work/lint"
cp -r "$source_collection/." "$work/lint/" && rm -rf "$work/lint/tests/output"
cp "$readme/site.yml" "$work/lint/readme-site.yml"
cp "$readme/inventory.yml" "$work/lint/readme-inventory.yml"
cp "$readme/inventory-windows.yml" "$work/lint/readme-inventory-windows.yml"
check_logged "ansible-lint --profile production" bash -c "cd '$work/lint' && \
  ansible-lint --offline --profile production --strict --nocolor"
check_logged "unit tests (pytest)" \
  "$python" -m pytest -p no:cacheprovider -q "$collection/tests/unit"

echo "== ansible-doc renders the modules and the role"
for module in qim.setup.settings qim.setup.deploy; do
  if ansible-doc "$module" >"$work/doc.txt" 2>&1 && grep -q 'EXAMPLES' "$work/doc.txt" &&
    grep -q 'RETURN VALUES' "$work/doc.txt" && grep -q 'prefs_dir' "$work/doc.txt"; then
    pass "ansible-doc $module"
  else
    fail "ansible-doc $module"
    tail -20 "$work/doc.txt" >&2
  fi
done
grep -q 'database_password' <(ansible-doc qim.setup.settings 2>&1) &&
  grep -q 'start_at' <(ansible-doc qim.setup.deploy 2>&1) && pass "ansible-doc lists the own options" ||
  fail "ansible-doc lists the own options"
check "ansible-doc -t role qim.setup.site lists the required settings" \
  bash -c 'ansible-doc -t role qim.setup.site 2>&1 | grep -q "^ *= fmcip"'

echo "== three servers on this machine"
mkdir -p "$work/hosts"
playbook prepare setup_qim_hosts/prepare.yml
check "prepare the servers" ran_clean prepare || show_log prepare

# Check mode asks `wassetup plan --json` for the plan, which must write no file either.
snapshot fresh-before
playbook check-fresh qim_setup_modules/apply.yml --check --diff
snapshot fresh-after
check "check mode on fresh servers runs" ran_clean check-fresh || show_log check-fresh
check "check mode reports changes on every server" changed_on_every_host check-fresh
check "check mode changes no file (fresh servers)" same_snapshot fresh-before fresh-after
check "check mode runs no command" no_step_ran

# Under umask 000 what a module writes would be world-writable unless it sets its own mode.
(umask 000 && playbook first qim_setup_modules/apply.yml --diff -v)
check "first apply runs on every server" ran_clean first || show_log first
check "first apply changes every server" changed_on_every_host first
check "first apply deployed every server" deployed_to_the_end "${hosts[@]}"
check "the --diff output names the password masked" grep -qF 'databasePassword=******** (changed)' "$work/first.log"
check "the output of the first apply holds no password" no_password_in first
check "each server has its own settings" \
  bash -c "grep -q mail-a.example.com '$work/hosts/qim-test-a/prefs/QIMSetup.prefs' && grep -q mail-b.example.com '$work/hosts/qim-test-b/prefs/QIMSetup.prefs' && ! grep -q mail-b '$work/hosts/qim-test-a/prefs/QIMSetup.prefs'"
check "the data source and Java variable reach the next task" \
  grep -q 'data source jdbc/QIM on port 50001; ws.ext.dirs=' "$work/first.log"
record_mode() { stat -c %a "$work/hosts/$1/prefs/QIMSetup.deployed.json" 2>/dev/null; }
check "the deploy record is owner-only (umask 000)" \
  test "$(record_mode qim-test-a)$(record_mode qim-test-b)$(record_mode qim-test-c)" = 600600600
check "the deploy record holds the commands, passwords masked" \
  bash -c "grep -q '\"tag\": \"java_dbsetup\"' '$work/hosts/qim-test-a/prefs/QIMSetup.deployed.json' && grep -qF '********' '$work/hosts/qim-test-a/prefs/QIMSetup.deployed.json' && ! grep -qF -- '$canary' '$work/hosts/qim-test-a/prefs/QIMSetup.deployed.json'"

clear_step_logs
snapshot second-before
playbook second qim_setup_modules/apply.yml --diff
snapshot second-after
check "second apply runs on every server" ran_clean second || show_log second
check "second apply reports changed=0" changed_on_no_host second || show_log second
check "second apply changes no file" same_snapshot second-before second-after
check "second apply runs no command" no_step_ran

echo "== a newer wassetup that composes the same commands"
playbook upgraded qim_setup_modules/apply.yml --diff \
  -e "qim_test_wassetup_override={{ qim_test_next_wassetup }}"
check "the upgraded tool reports changed=0" changed_on_no_host upgraded || show_log upgraded
check "the upgraded tool runs no command" no_step_ran

echo "== a newer wassetup that composes a command differently"
playbook other-tool qim_setup_modules/apply.yml --diff -v --limit qim-test-c \
  -e "qim_test_wassetup_override={{ qim_test_other_wassetup }}"
check "the tool that composes differently deploys again" changed_on_every_host other-tool qim-test-c ||
  show_log other-tool
check "it deploys from the step it composes differently" \
  bash -c "! grep -qx nuvdef '$work/hosts/qim-test-c/java.log' && ! grep -qx db2file '$work/hosts/qim-test-c/java.log' && grep -qx zafenv '$work/hosts/qim-test-c/java.log'"
check "the diff and the message name that step" \
  bash -c "grep -q '^+java_db2file: (nothing to run)  <- its command differs' '$work/other-tool.log' && grep -q 'deploying from java_db2file, the first step that differs' '$work/other-tool.log'"
clear_step_logs
rm -f "$work/hosts"/*/scripts.log
playbook back-tool qim_setup_modules/apply.yml --limit qim-test-c
check "the tool of before deploys from that step again" \
  bash -c "! grep -qx nuvdef '$work/hosts/qim-test-c/java.log' && grep -qx db2file '$work/hosts/qim-test-c/java.log' && grep -q '^QIMDBSetup.bat' '$work/hosts/qim-test-c/scripts.log'"
clear_step_logs
rm -f "$work/hosts"/*/scripts.log

echo "== a setting that changes a later step"
playbook nuvip qim_setup_modules/apply.yml --diff -v --limit qim-test-a -e qim_test_nuvip=10.0.9.2
check "the changed setting deploys again" changed_on_every_host nuvip qim-test-a || show_log nuvip
check "the deployment starts at the first step that differs" \
  bash -c "! grep -q 'CreateQIMEnv' '$work/hosts/qim-test-a/java.log' && ! grep -qx qimdef '$work/hosts/qim-test-a/java.log' && grep -qx nuvdef '$work/hosts/qim-test-a/java.log' && grep -q '^QIMDBSetup.bat' '$work/hosts/qim-test-a/scripts.log'"
check "the diff and the message name the step that differs" \
  bash -c "grep -q '^+java_nuvdef: .*10.0.9.2.*<- its command differs' '$work/nuvip.log' && grep -q 'deploying from java_nuvdef, the first step that differs' '$work/nuvip.log'"
check "the other servers ran nothing" bash -c "test -z \"\$(cat '$work/hosts/qim-test-b/java.log' '$work/hosts/qim-test-c/java.log')\""
clear_step_logs
rm -f "$work/hosts"/*/scripts.log

echo "== a changed password"
playbook password qim_setup_modules/apply.yml --limit qim-test-b -e "qim_test_password=second-$canary"
check "the changed password deploys again" changed_on_every_host password qim-test-b || show_log password
check "the steps from the first one that carries a password run again" \
  bash -c "! grep -q 'CreateQIMEnv' '$work/hosts/qim-test-b/java.log' && grep -qx app '$work/hosts/qim-test-b/java.log' && grep -q '^QIMDBSetup.bat' '$work/hosts/qim-test-b/scripts.log'"
check "the output of the password change holds no password" no_password_in password
playbook password-again qim_setup_modules/apply.yml --limit qim-test-b -e "qim_test_password=second-$canary"
check "after the password change the server reports changed=0" changed_on_no_host password-again qim-test-b ||
  show_log password-again
clear_step_logs

snapshot check-before
playbook check-changed qim_setup_modules/apply.yml --check --diff -v -e qim_test_smtp_override=other.example.com
snapshot check-after
check "check mode reports a changed setting" changed_on_every_host check-changed
check "check mode shows the changed key" grep -q 'smtp=other.example.com' "$work/check-changed.log"
check "check mode plans from the pending setting" \
  grep -q 'deploying from java_app, the first step that differs' "$work/check-changed.log"
check "check mode changes no file (applied servers)" same_snapshot check-before check-after
check "the output of check mode holds no password" no_password_in check-changed

playbook checks qim_setup_modules/checks.yml -v
check "refusals and check mode of the modules" ran_clean checks || show_log checks
check "the output of the refusals holds no password" no_password_in checks

echo "== a link in the deploy record's place"
record=$work/hosts/qim-test-b/prefs/QIMSetup.deployed.json
mv "$record" "$work/record.kept"
echo '{"elsewhere": true}' >"$work/elsewhere.json"
ln -s "$work/elsewhere.json" "$record"
clear_step_logs
playbook record-link qim_setup_modules/apply.yml --limit qim-test-b -e qim_test_force=true
check "a link as the deploy record fails the deployment" test "$(recap record-link qim-test-b failed)" = 1
check "the deployment with a link as its record runs nothing" test -z "$(step_log qim-test-b)"
check "the failure names the link" grep -q 'QIMSetup.deployed.json is a symbolic link' "$work/record-link.log"
check "the link is neither followed nor replaced" \
  bash -c "test -L '$record' && test \"\$(cat '$work/elsewhere.json')\" = '{\"elsewhere\": true}'"
rm -f "$record" && mv "$work/record.kept" "$record"

echo "== a failing step, then a resume"
echo nuvdef >"$work/hosts/qim-test-b/fail-on"
clear_step_logs
playbook failing qim_setup_modules/apply.yml -e qim_test_force=true
check "the failing server fails" test "$(recap failing qim-test-b failed)" = 1 || show_log failing
check "the other servers finish" ran_clean failing qim-test-a qim-test-c
check "the failure carries the plug-in's message" \
  grep -q 'Writing the NUV queue-manager definition failed' "$work/failing.log"
check "the failure names the step to resume at" grep -q 'rerun with start_at: java_nuvdef' "$work/failing.log"
check "no step after the failed one ran" bash -c "! grep -qx fmcdef '$work/hosts/qim-test-b/java.log'"
rm "$work/hosts/qim-test-b/fail-on"
clear_step_logs
playbook resumed qim_setup_modules/apply.yml --limit qim-test-b -e qim_test_start_at=java_nuvdef
check "the resumed server finishes" test "$(recap resumed qim-test-b failed)" = 0 || show_log resumed
check "the resume starts at the failed step" \
  bash -c "! grep -qx qimdef '$work/hosts/qim-test-b/java.log' && grep -qx nuvdef '$work/hosts/qim-test-b/java.log'"
playbook after-resume qim_setup_modules/apply.yml
check "after the resume every server reports changed=0" changed_on_no_host after-resume || show_log after-resume

echo "== the role with the package built by CPack"
package_dir="$work/package"
mkdir -p "$package_dir"
if (cd build/dev && cpack -G DEB -B "$package_dir" >"$work/cpack.log" 2>&1); then
  deb=$(ls "$package_dir"/qimplugin_*.deb | head -1)
  pass "cpack -G DEB"
  mkdir -p "$work/scratch-root"
  dpkg-deb -x "$deb" "$work/scratch-root"
  scratch_wassetup=$work/scratch-root/usr/bin/wassetup
  for host in "${hosts[@]}"; do
    mkdir -p "$work/hosts/$host/package" && cp "$deb" "$work/hosts/$host/package/"
  done
  installed_before=$(dpkg-query -W -f='${Status} ${Version}' qimplugin 2>/dev/null || true)
  playbook role-check qim_setup_site/role.yml --check -e "qim_test_package=$deb" \
    -e "qim_test_scratch_wassetup=$scratch_wassetup"
  check "the role in check mode would install the package" ran_clean role-check || show_log role-check
  check "the role in check mode installs nothing" \
    test "$(dpkg-query -W -f='${Status} ${Version}' qimplugin 2>/dev/null || true)" = "$installed_before"
  for run in role-first role-second; do
    playbook "$run" qim_setup_site/role.yml -e "qim_test_scratch_wassetup=$scratch_wassetup"
    check "the role with the packaged wassetup ($run)" ran_clean "$run" || show_log "$run"
  done
  check "the role's first run changes every server" changed_on_every_host role-first
  check "the role's second run reports changed=0" changed_on_no_host role-second
  check "the role's output holds no password" no_password_in role-first
  echo nuvdef >"$work/hosts/qim-test-c/fail-on"
  playbook role-failing qim_setup_site/role.yml --limit qim-test-c \
    -e "qim_test_scratch_wassetup=$scratch_wassetup" -e qim_test_force=true
  rm "$work/hosts/qim-test-c/fail-on"
  check "the role's failure names its variable to resume with" \
    grep -q 'rerun with -e qim_setup_start_at=java_nuvdef' "$work/role-failing.log"
  playbook role-missing qim_setup_site/role.yml --limit qim-test-c \
    -e "qim_test_scratch_wassetup=$scratch_wassetup" -e '{"qim_test_settings_override": {"qimdirrt": "/tmp"}}'
  check "the role names every missing setting at once" \
    grep -q 'missing required arguments: fmcip, nuvip, nuvserver, qimip, smtp' "$work/role-missing.log"
  check "the role with missing settings changes nothing" \
    test "$(recap role-missing qim-test-c changed)" = 0
  : >"$package_dir/wassetup-0.2.0-win64.zip"
  playbook role-wrong-package qim_setup_site/role.yml --limit qim-test-c \
    -e "qim_test_scratch_wassetup=$scratch_wassetup" -e "qim_test_package=$package_dir/wassetup-0.2.0-win64.zip"
  check "the role refuses the Windows ZIP for a Debian host" \
    grep -q 'wassetup-0.2.0-win64.zip is no package for this host, which installs the .deb' \
    "$work/role-wrong-package.log"
  check "the role with a package of the other family changes nothing" \
    test "$(recap role-wrong-package qim-test-c changed)" = 0

  echo "== the README's Many servers example on three fresh servers"
  readme_hosts=(was-test-1 was-acc-1 was-prod-1)
  # The README's absolute paths move below the scratch folder; every setting stays as written.
  "$python" - "$readme/inventory.yml" "$readme/root" <<'EOF'
import re
import sys

path, root = sys.argv[1:]
text = open(path, encoding="utf-8").read()
open(path, "w", encoding="utf-8").write(re.sub(r"(:\s+)(/[^\s\"']+)", r"\g<1>" + root + r"\g<2>", text))
EOF
  mkdir -p "$readme/group_vars/qim_servers"
  echo "vault-$canary" >"$work/vault-password"
  printf 'vault_qim_database_password: %s\nvault_qim_mq_password: mq-%s\n' "$canary" "$canary" \
    >"$readme/group_vars/qim_servers/vault.yml"
  ansible-vault encrypt --vault-password-file "$work/vault-password" \
    "$readme/group_vars/qim_servers/vault.yml" >/dev/null 2>&1
  readme_playbook() { # readme_playbook NAME PLAYBOOK ARGS...
    local name=$1 book=$2
    shift 2
    timeout 300 ansible-playbook -i "$readme/inventory.yml" -i "$targets/qim_setup_readme/overlay.yml" \
      --vault-password-file "$work/vault-password" -e "qim_readme_root=$readme/root" \
      -e "qim_readme_wassetup=$scratch_wassetup" "$book" "$@" >"$work/$name.log" 2>&1 || true
  }
  readme_playbook readme-prepare "$targets/qim_setup_readme/prepare.yml"
  check "prepare the README's servers" ran_clean readme-prepare "${readme_hosts[@]}" || show_log readme-prepare
  readme_playbook readme-check "$readme/site.yml" --check --diff
  check "the README's example in check mode succeeds on fresh servers" \
    ran_clean readme-check "${readme_hosts[@]}" || show_log readme-check
  readme_playbook readme-first "$readme/site.yml"
  check "the README's example succeeds on its first run" \
    ran_clean readme-first "${readme_hosts[@]}" || show_log readme-first
  check "the README's example deployed every server" \
    test "$(grep -c 'QIMFilesCp.bat' "$readme/root/ran.log" 2>/dev/null)" = 3
  readme_playbook readme-second "$readme/site.yml"
  check "the README's example reports changed=0 on its second run" \
    changed_on_no_host readme-second "${readme_hosts[@]}" || show_log readme-second
  check "the README's example's output holds no password" \
    bash -c "! grep -qF -- '$canary' '$work/readme-check.log' '$work/readme-first.log' '$work/readme-second.log'"
else
  fail "cpack -G DEB"
  tail -20 "$work/cpack.log" >&2
fi

echo "ansible-test: $(($(date +%s) - started)) s; logs in $work$([ "${1:-}" = "--keep" ] || echo ' (removed; --keep keeps them)')"
echo "ansible: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
