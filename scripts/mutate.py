#!/usr/bin/env python3
"""A small mutation check of the module's, the host's and some of the tool's sources.

Applies a sample of simple mutations one at a time (a string literal's letter changed, a number
changed by one, a comparison inverted, a condition negated, a statement dropped), rebuilds the
test programs that can see it incrementally, runs them, restores the file, and reports the share
of mutations that some test caught, with every surviving mutation and its file and line.

A string literal of lower-case prose (a diagnostic, an error reason, a static_assert message) is
not mutated: the case of its first letter is no behaviour. Nor is a statement that only reserves
a container's capacity, nor a static_assert. A mutation that does not compile is left out of
the ratio. The sources are always restored, also on Ctrl-C. Not part of CI: a run takes minutes
(one incremental build per mutation).

Usage: scripts/mutate.py [--count N] [--seed S] [--build-dir DIR] [--jobs J] [--list]
"""

import argparse
import fnmatch
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# The host's POSIX side is what the Linux test programs run; its Win32 side is not built here.
# Of the tool, the code that masks secrets, records the form, merges settings, writes the output
# and documents, and the dialog server's request limits and access rules.
SOURCE_GLOBS = ["plugin/*.cpp", "plugin/*/*.cpp", "host/src/*.cpp", "host/src/platform/posix/*.cpp",
                "tool/core/secrets.cpp", "tool/core/form_model.cpp", "tool/core/settings_merge.cpp",
                "tool/core/output_streams.cpp", "tool/core/documents.cpp",
                "tool/ui/request_gate.cpp", "tool/ui/request_head.cpp", "tool/ui/access.cpp"]
# The test programs that run in seconds, with the test-harness mode each one needs, quickest
# first: a mutation ends at the first program that catches it.
FAST_TESTS = {
    "plugin_tests": None,
    "harness_tests": "harness",
    "host_tests": None,
}
# host_tests links the host alone: a mutation of the module cannot reach it.
MODULE_BLIND_TESTS = {"host_tests"}
# A mutation of the tool is seen by tool_tests only: first its tests that start no process
# (seconds), then all of it (about half a minute).
TOOL_QUICK_TESTS = ("UiAccessTest.*:CheckHeadTest.*:RequestGateTest.*:PasswordScrubberTest.*:"
                    "DeployRunnerTest.*:UiBackendTest.*")
# Tests whose outcome depends on the machine's timing, left out so that a chance failure is not
# counted as a caught mutation: the two writers of this one need not overlap on an idle machine.
TIMING_TESTS = ["PreferenceStoreTest.TwoProcessesSavingAtOnceNeverTearOrLoseSettings"]
# Tests of the tool that wait on the clock of a busy machine (the dialog server's crowds must be
# answered within half a second): a failure of theirs counts only when it comes again.
TOOL_TIMING_TESTS = ["DialogServerTest.*"]
EVERY_PROGRAM = [*FAST_TESTS, "tool_tests"]
BUILD_TIMEOUT = 600
TEST_TIMEOUT = 120


@dataclass
class Mutation:
    path: Path
    line: int  # 1-based
    kind: str
    before: str
    after: str

    def describe(self) -> str:
        return f"{self.path.relative_to(ROOT)}:{self.line}: {self.kind}: {self.before.strip()}  ->  {self.after.strip()}"


STRING = re.compile(r'"((?:[^"\\]|\\.)*)"')
NUMBER = re.compile(r"(?<![\w.])(\d+)(?![\w.])")
COMPARISONS = [("==", "!="), ("!=", "=="), ("<=", ">"), (">=", "<"), (" < ", " >= "), (" > ", " <= ")]
CONDITION = re.compile(r"\b(if|while) \((.*)\)( \{)?$")
STATEMENT = re.compile(r"^\s+[\w:.>\-\[\]()*]+(\(.*\)|\s[+\-*/|&]?=\s.*);$")


def code_part(line: str) -> str:
    """The line without a trailing // comment (a rough cut that ignores // inside strings)."""
    cut = line.find("//")
    return line if cut < 0 else line[:cut]


def is_code(line: str) -> bool:
    stripped = line.strip()
    return bool(stripped) and not stripped.startswith(("//", "#", "*", "/*"))


def has_no_run_time_effect(line: str) -> bool:
    """A statement that only reserves a container's capacity (it changes how often memory is
    allocated, never what the program does) or a static_assert (checked by the compiler alone):
    no test could catch a change to it."""
    code = code_part(line)
    return (re.match(r"^\s*[\w.\->]+\.reserve\(.*\);\s*$", code) is not None
            or code.lstrip().startswith("static_assert("))


def is_prose(text):
    """Lower-case prose: the host's diagnostics and error reasons, and static_assert messages.

    The case of their first letter is style that no program reads, so changing it is no fault.
    """
    first_letter = next((char for char in text if char.isalpha()), "")
    return " " in text and first_letter.islower()


def string_mutations(path, number, line):
    for match in STRING.finditer(code_part(line)):
        text = match.group(1)
        if is_prose(text):
            continue
        for index, char in enumerate(text):
            if char.isalpha() and (index == 0 or text[index - 1] != "\\"):
                swapped = char.lower() if char.isupper() else char.upper()
                start = match.start(1) + index
                yield Mutation(path, number, "string letter", line, line[:start] + swapped + line[start + 1:])
                break


def number_mutations(path, number, line):
    code = code_part(line)
    if "[" in code and "]" in code and "=" not in code:
        return
    for match in NUMBER.finditer(code):
        if STRING.search(code) and any(m.start() < match.start() < m.end() for m in STRING.finditer(code)):
            continue
        value = int(match.group(1))
        yield Mutation(path, number, "number +1", line,
                       line[:match.start(1)] + str(value + 1) + line[match.end(1):])
        break


def comparison_mutations(path, number, line):
    code = code_part(line)
    if "template" in code or "#include" in code or "<<" in code or ">>" in code or "->" in code and " > " in code:
        return
    for old, new in COMPARISONS:
        at = code.find(old)
        if at >= 0:
            yield Mutation(path, number, "comparison inverted", line, line[:at] + new + line[at + len(old):])
            return


def condition_mutations(path, number, line):
    match = CONDITION.search(code_part(line).rstrip())
    if match and not code_part(line).rstrip().endswith(";"):
        condition = match.group(2)
        if condition.count("(") == condition.count(")"):
            start, end = match.span(2)
            yield Mutation(path, number, "condition negated", line,
                           line[:start] + "!(" + condition + ")" + line[end:])


def statement_mutations(path, number, line, previous=""):
    code = code_part(line).rstrip()
    if previous and not previous.endswith((";", "{", "}")):
        return  # the line continues a statement that starts above
    stripped = code.strip()
    if stripped.startswith(("return", "break", "continue", "case", "default", "throw")):
        return
    if STATEMENT.match(code) and not re.match(r"^\s*(const\s+)?[\w:<>]+[\s*&]+\w+\s*(=|\(|\{)", code):
        indent = line[: len(line) - len(line.lstrip())]
        yield Mutation(path, number, "statement dropped", line, indent + ";  // mutated\n")


OPERATORS = [string_mutations, number_mutations, comparison_mutations, condition_mutations,
             statement_mutations]


def candidate_mutations():
    mutations = []
    for pattern in SOURCE_GLOBS:
        for path in sorted(ROOT.glob(pattern)):
            lines = path.read_text(encoding="utf-8").splitlines(keepends=True)
            previous = ""
            for number, line in enumerate(lines, start=1):
                if not is_code(line):
                    continue
                if has_no_run_time_effect(line):
                    previous = code_part(line).rstrip()
                    continue
                for operator in OPERATORS[:-1]:
                    mutations.extend(operator(path, number, line))
                mutations.extend(statement_mutations(path, number, line, previous))
                previous = code_part(line).rstrip()
    return mutations


def sample(mutations, count, seed):
    """A sample spread over the kinds of mutation, the same for the same seed and sources."""
    rng = random.Random(seed)
    by_kind = {}
    for mutation in mutations:
        by_kind.setdefault(mutation.kind, []).append(mutation)
    chosen = []
    kinds = sorted(by_kind)
    while len(chosen) < count and any(by_kind.values()):
        for kind in kinds:
            if by_kind[kind] and len(chosen) < count:
                chosen.append(by_kind[kind].pop(rng.randrange(len(by_kind[kind]))))
    return chosen


def run(command, timeout, env=None):
    """Runs `command` in a process group of its own and ends the whole group when it returns:
    a mutated dialog server that a failing or timed-out test left running must not outlive the
    run and spend the cores of the next mutations. The output goes to a file, which a process
    left behind cannot hold open the way it would a pipe."""
    with tempfile.TemporaryFile(mode="w+") as output:
        process = subprocess.Popen(command, cwd=ROOT, stdout=output, stderr=subprocess.STDOUT,
                                   text=True, env=env, start_new_session=True)
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            code = None
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()
        output.seek(0)
        return code, "timed out" if code is None else output.read()


def configure(build_dir):
    code, output = run(["cmake", "-S", str(ROOT), "-B", str(build_dir), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Debug", "-DQIM_BUILD_TOOL=ON"], BUILD_TIMEOUT)
    if code != 0:
        sys.exit("mutate: cannot configure " + str(build_dir) + "\n" + output)


def in_tool(mutation):
    return mutation is not None and mutation.path.is_relative_to(ROOT / "tool")


def runs_for(mutation):
    """The test runs that can see `mutation`, quickest first, as (program, gtest filter, timed);
    all of them when there is none. A timed run's failures count only when they come again."""
    every = [(program, "-" + ":".join(TIMING_TESTS), False) for program in FAST_TESTS]
    every.append(("tool_tests", "*", True))
    if mutation is None:
        return every
    if in_tool(mutation):
        return [("tool_tests", TOOL_QUICK_TESTS, False), ("tool_tests", "*", True)]
    # The tool loads the module and links the host, and is the only user of some of the host's
    # facilities (sockets, the desktop, stop signals): what the quick programs miss, its tests
    # may still catch.
    in_module = mutation.path.is_relative_to(ROOT / "plugin")
    return [run for run in every if not (in_module and run[0] in MODULE_BLIND_TESTS)]


def build(build_dir, jobs, targets):
    code, _ = run(["cmake", "--build", str(build_dir), "-j", str(jobs), "--target", *targets],
                  BUILD_TIMEOUT)
    return code == 0


def failures(build_dir, program, test_filter):
    """The names of the tests of `program` that `test_filter` selects and that fail; None when
    the program does not end in time, or fails without naming a test."""
    mode = FAST_TESTS.get(program)
    env = dict(os.environ)
    env.pop("YTQ_RT_OUT", None)
    if mode is not None:
        env["YTQ_RT_OUT"] = mode
    code, output = run([str(build_dir / "bin" / program), "--gtest_brief=1",
                        "--gtest_filter=" + test_filter], TEST_TIMEOUT, env)
    if code == 0:
        return []
    failed = sorted(set(re.findall(r"^\[  FAILED  \] (\S+)", output or "", re.MULTILINE)))
    return failed or None


def verdict(build_dir, jobs, mutation=None):
    """"caught", "SURVIVED" or "does not compile". Each program is built when its turn comes:
    most mutations are caught by the first, and the tool's tests take longest to link."""
    for program, test_filter, timed in runs_for(mutation):
        if not build(build_dir, jobs, [program]):
            return "does not compile"
        failed = failures(build_dir, program, test_filter)
        if failed and timed and any(fnmatch.fnmatch(name, pattern) for name in failed
                                    for pattern in TOOL_TIMING_TESTS):
            # A test that waits on the clock may have lost the race on a busy machine.
            failed = failures(build_dir, program, ":".join(failed))
        if failed != []:
            return "caught"
    return "SURVIVED"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=60, help="mutations to try (default 60)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    parser.add_argument("--build-dir", default=str(ROOT / "build" / "mutate"),
                        help="build folder of its own (default build/mutate)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--list", action="store_true", help="only list the sample")
    args = parser.parse_args()

    chosen = sample(candidate_mutations(), args.count, args.seed)
    if args.list:
        for mutation in chosen:
            print(mutation.describe())
        return 0

    build_dir = Path(args.build_dir)
    configure(build_dir)
    if verdict(build_dir, args.jobs) != "SURVIVED":
        sys.exit("mutate: the unmutated sources must build and pass their tests first")

    # Ctrl-C and SIGTERM end the run through KeyboardInterrupt, so the finally below restores.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    caught, survivors, not_compiled = 0, [], 0
    started = time.monotonic()
    for number, mutation in enumerate(chosen, start=1):
        original = mutation.path.read_text(encoding="utf-8")
        lines = original.splitlines(keepends=True)
        lines[mutation.line - 1] = mutation.after
        try:
            mutation.path.write_text("".join(lines), encoding="utf-8")
            outcome = verdict(build_dir, args.jobs, mutation)
            if outcome == "does not compile":
                not_compiled += 1
            elif outcome == "SURVIVED":
                survivors.append(mutation)
            else:
                caught += 1
        finally:
            mutation.path.write_text(original, encoding="utf-8")
        print(f"[{number}/{len(chosen)}] {outcome}: {mutation.describe()}", flush=True)

    build(build_dir, args.jobs, EVERY_PROGRAM)  # the build folder matches the restored sources
    tried = caught + len(survivors)
    minutes = (time.monotonic() - started) / 60
    print(f"\nmutate: {caught} of {tried} compiled mutations caught "
          f"({100 * caught / tried if tried else 0:.1f}%), {not_compiled} did not compile, "
          f"{minutes:.1f} min, seed {args.seed}")
    for mutation in survivors:
        print("  survivor: " + mutation.describe())
    return 0


if __name__ == "__main__":
    # A background job of a shell without job control starts with SIGINT ignored, and every
    # program started from here would inherit that; the tool's tests stop the dialog server
    # and deployments with Ctrl+C. A handler of our own is reset to the default by exec.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit("mutate: interrupted; every source was restored")
