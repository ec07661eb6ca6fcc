#!/usr/bin/env bash
# The Ansible collection qim.setup (ansible/) with the real engine: ansible-doc renders each
# module and the role, then playbooks run against two inventory hosts that are both this
# machine (connection local), each with its own preference folder, installation folders, fake
# Java launcher and fake scripts in a scratch folder. The role installs the package built by
# CPack in check mode only (a real dpkg install would change this machine), then runs for real
# with the wassetup of that package unpacked into the scratch folder.
# The last line is "ansible: N passed, N failed"; the status is 0 only when all passed.
# Usage: scripts/ansible-test.sh [--keep]   (--keep leaves the scratch folder)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh ansible-core python3-apt dpkg-dev
cmake --preset dev >/dev/null
cmake --build --preset dev --target wassetup QimPlugIn >/dev/null

# From here on a failed check is counted, not fatal.
set +e
work=$(mktemp -d "${TMPDIR:-/tmp}/wassetup-ansible.XXXXXX")
[ "${1:-}" = "--keep" ] || trap 'rm -rf "$work"' EXIT
started=$(date +%s)

export ANSIBLE_COLLECTIONS_PATH="$root/ansible"
export ANSIBLE_COLLECTIONS_SCAN_SYS_PATH=false
export ANSIBLE_LOCAL_TEMP="$work/ansible-tmp/local"
export ANSIBLE_REMOTE_TEMP="$work/ansible-tmp/remote"
export ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_STDOUT_CALLBACK=default ANSIBLE_LOAD_CALLBACK_PLUGINS=0
export ANSIBLE_DEPRECATION_WARNINGS=0 ANSIBLE_LOCALHOST_WARNING=0

hosts=(qim-test-a qim-test-b)
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

# ansible-playbook PLAYBOOK ARGS... with the test inventory; its output goes to $work/NAME.log.
playbook() {
  local name=$1 book=$2
  shift 2
  timeout 300 ansible-playbook -i ansible/tests/inventory.yml "ansible/tests/$book" \
    -e "qim_test_root=$work/hosts" -e "qim_test_wassetup=$root/build/dev/bin/wassetup" \
    -e "qim_test_password=$canary" "$@" >"$work/$name.log" 2>&1 || true
}
# The number in "HOST : ok=N changed=N unreachable=N failed=N ..." of the play recap.
recap() { # recap LOG HOST FIELD
  sed -n "s/^$2 *:.* $3=\([0-9]*\).*/\1/p" "$work/$1.log" | tail -1
}
show_log() { sed 's/^/    | /' "$work/$1.log" | tail -40 >&2; }
ran_clean() { # every host reached, none failed
  local log=$1 host
  for host in "${hosts[@]}"; do
    [ "$(recap "$log" "$host" failed)" = 0 ] && [ "$(recap "$log" "$host" unreachable)" = 0 ] ||
      return 1
  done
}
changed_on_every_host() {
  local host
  for host in "${hosts[@]}"; do [ "$(recap "$1" "$host" changed)" -gt 0 ] || return 1; done
}
changed_on_no_host() {
  ran_clean "$1" || return 1
  local host
  for host in "${hosts[@]}"; do [ "$(recap "$1" "$host" changed)" = 0 ] || return 1; done
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
check "ansible-doc -t role qim.setup.site" \
  bash -c 'ansible-doc -t role qim.setup.site 2>&1 | grep -q qim_setup_settings'

echo "== two servers on this machine"
mkdir -p "$work/hosts"
playbook prepare prepare.yml
check "prepare the servers" ran_clean prepare || show_log prepare

# Check mode asks `wassetup plan --json` for the plan, which must write no file either.
snapshot fresh-before
playbook check-fresh apply.yml --check --diff
snapshot fresh-after
check "check mode on fresh servers runs" ran_clean check-fresh || show_log check-fresh
check "check mode reports changes on every server" changed_on_every_host check-fresh
check "check mode changes no file (fresh servers)" same_snapshot fresh-before fresh-after
check "check mode runs no command" test -z "$(step_log qim-test-a)$(step_log qim-test-b)"

# Under umask 000 what a module writes would be world-writable unless it sets its own mode.
(umask 000 && playbook first apply.yml --diff -v)
check "first apply runs on every server" ran_clean first || show_log first
check "first apply changes every server" changed_on_every_host first
check "first apply deployed every server" deployed_to_the_end qim-test-a qim-test-b
check "the --diff output names the password masked" grep -qF 'databasePassword=******** (changed)' "$work/first.log"
check "the output of the first apply holds no password" no_password_in first
check "each server has its own settings" \
  bash -c "grep -q mail-a.example.com '$work/hosts/qim-test-a/prefs/QIMSetup.prefs' && grep -q mail-b.example.com '$work/hosts/qim-test-b/prefs/QIMSetup.prefs' && ! grep -q mail-b '$work/hosts/qim-test-a/prefs/QIMSetup.prefs'"
check "the data source and Java variable reach the next task" \
  grep -q 'data source jdbc/QIM on port 50001; ws.ext.dirs=' "$work/first.log"
record_mode() { stat -c %a "$work/hosts/$1/prefs/QIMSetup.deployed.json" 2>/dev/null; }
check "the deploy record is owner-only (umask 000)" \
  test "$(record_mode qim-test-a)$(record_mode qim-test-b)" = 600600

snapshot second-before
playbook second apply.yml --diff
snapshot second-after
check "second apply runs on every server" ran_clean second || show_log second
check "second apply reports changed=0" changed_on_no_host second || show_log second
check "second apply changes no file" same_snapshot second-before second-after

snapshot check-before
playbook check-changed apply.yml --check --diff -e qim_test_smtp_override=other.example.com
snapshot check-after
check "check mode reports a changed setting" changed_on_every_host check-changed
check "check mode shows the changed key" grep -q 'smtp=other.example.com' "$work/check-changed.log"
check "check mode changes no file (applied servers)" same_snapshot check-before check-after
check "the output of check mode holds no password" no_password_in check-changed

playbook checks checks.yml -v
check "refusals and check mode of the modules" ran_clean checks || show_log checks
check "the output of the refusals holds no password" no_password_in checks

echo "== a link in the deploy record's place"
record=$work/hosts/qim-test-b/prefs/QIMSetup.deployed.json
mv "$record" "$work/record.kept"
echo '{"elsewhere": true}' >"$work/elsewhere.json"
ln -s "$work/elsewhere.json" "$record"
: >"$work/hosts/qim-test-b/java.log"
playbook record-link apply.yml --limit qim-test-b -e qim_test_force=true
check "a link as the deploy record fails the deployment" test "$(recap record-link qim-test-b failed)" = 1
check "the deployment with a link as its record runs nothing" test -z "$(step_log qim-test-b)"
check "the failure names the link" grep -q 'QIMSetup.deployed.json is a symbolic link' "$work/record-link.log"
check "the link is neither followed nor replaced" \
  bash -c "test -L '$record' && test \"\$(cat '$work/elsewhere.json')\" = '{\"elsewhere\": true}'"
rm -f "$record" && mv "$work/record.kept" "$record"

echo "== a failing step, then a resume"
echo nuvdef >"$work/hosts/qim-test-b/fail-on"
: >"$work/hosts/qim-test-a/java.log"
: >"$work/hosts/qim-test-b/java.log"
playbook failing apply.yml -e qim_test_force=true
check "the failing server fails" test "$(recap failing qim-test-b failed)" = 1 || show_log failing
check "the other server finishes" test "$(recap failing qim-test-a failed)" = 0
check "the failure carries the plug-in's message" \
  grep -q 'Writing the NUV queue-manager definition failed' "$work/failing.log"
check "the failure names the step to resume at" grep -q 'start_at: java_nuvdef' "$work/failing.log"
check "no step after the failed one ran" bash -c "! grep -qx fmcdef '$work/hosts/qim-test-b/java.log'"
rm "$work/hosts/qim-test-b/fail-on"
: >"$work/hosts/qim-test-b/java.log"
playbook resumed apply.yml --limit qim-test-b -e qim_test_start_at=java_nuvdef
check "the resumed server finishes" test "$(recap resumed qim-test-b failed)" = 0 || show_log resumed
check "the resume starts at the failed step" \
  bash -c "! grep -qx qimdef '$work/hosts/qim-test-b/java.log' && grep -qx nuvdef '$work/hosts/qim-test-b/java.log'"
playbook after-resume apply.yml
check "after the resume every server reports changed=0" changed_on_no_host after-resume || show_log after-resume

echo "== the role with the package built by CPack"
package_dir="$work/package"
mkdir -p "$package_dir"
if (cd build/dev && cpack -G DEB -B "$package_dir" >"$work/cpack.log" 2>&1); then
  deb=$(ls "$package_dir"/qimplugin_*.deb | head -1)
  pass "cpack -G DEB"
  mkdir -p "$work/scratch-root"
  dpkg-deb -x "$deb" "$work/scratch-root"
  for host in "${hosts[@]}"; do
    mkdir -p "$work/hosts/$host/package" && cp "$deb" "$work/hosts/$host/package/"
  done
  installed_before=$(dpkg-query -W -f='${Status} ${Version}' qimplugin 2>/dev/null || true)
  playbook role-check role.yml --check -e "qim_test_package=$deb" \
    -e "qim_test_scratch_wassetup=$work/scratch-root/usr/bin/wassetup"
  check "the role in check mode would install the package" ran_clean role-check || show_log role-check
  check "the role in check mode installs nothing" \
    test "$(dpkg-query -W -f='${Status} ${Version}' qimplugin 2>/dev/null || true)" = "$installed_before"
  for run in role-first role-second; do
    playbook "$run" role.yml -e "qim_test_scratch_wassetup=$work/scratch-root/usr/bin/wassetup"
    check "the role with the packaged wassetup ($run)" ran_clean "$run" || show_log "$run"
  done
  check "the role's first run changes every server" changed_on_every_host role-first
  check "the role's second run reports changed=0" changed_on_no_host role-second
  check "the role's output holds no password" no_password_in role-first
else
  fail "cpack -G DEB"
  tail -20 "$work/cpack.log" >&2
fi

echo "ansible-test: $(($(date +%s) - started)) s; logs in $work$([ "${1:-}" = "--keep" ] || echo ' (removed; --keep keeps them)')"
echo "ansible: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
