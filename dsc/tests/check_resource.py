#!/usr/bin/python3
"""Velmora's DSC 3 resource driven from its manifest as dsc drives a command
resource: each method's executable, found beside the manifest, with its args and
the desired state on standard input; get also with no input. The manifest is
valid against the published manifest schema; every state a method prints is
valid against the embedded instance schema; every line of standard error is one
of dsc's messages; what-if is answered by test; and the exit codes seen over the
table of wanted states are exactly those the manifest lists.

Usage: check_resource.py sim SOURCE --manifest FILE --program VelmoraState --bits 32|64
       check_resource.py wine SOURCE --manifest FILE --cache-sim DIR --wine scripts/wine.sh
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

from checking import Failures, mode_parser

import schemas

failures = Failures()
expect = failures.expect
LEVELS = {"error", "warn", "info", "debug", "trace"}
REFUSALS = {"input": 1, "cannot-hold": 2, "memory": 3, "system": 4}


def table(path, bits, wine):
    """The cases of WantedStates.txt for this program: (rule, state, wanted, test, set)."""
    rows = []
    with open(path, encoding="utf-8") as file:
        for line in file:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            rule, width, memory, in_force, wanted, test, set_ = line.split(" | ")
            if width not in ("any", str(bits)) or (wine and "privilege=" in in_force):
                continue
            state = "fail.GlobalMemoryStatusEx=5\n" if memory == "unreadable" else f"memory={memory}\n"
            if in_force != "-":
                state += "".join(pair.strip() + "\n" for pair in in_force.split(";"))
            rows.append((rule, state, wanted, test, set_))
    return rows


class Resource:
    """The resource in a folder of its own: the manifest and the program beside it."""

    def __init__(self, args, folder):
        self.args, self.folder = args, folder
        shutil.copy(args.manifest, folder)
        with open(args.manifest, encoding="utf-8") as file:
            self.manifest = json.load(file)
        if args.mode == "sim":
            os.symlink(os.path.abspath(args.program), os.path.join(folder, "VelmoraState.exe"))
            self.state_file = os.path.join(folder, "state")
        else:
            for name in ("VelmoraState.exe", "CACHESIM.dll"):
                shutil.copy(os.path.join(args.cache_sim, name), folder)
            self.state_file = os.path.join(folder, "cachesim.state")

    def write(self, state):
        with open(self.state_file, "w", encoding="ascii") as file:
            file.write(state)

    def state(self):
        with open(self.state_file, encoding="ascii") as file:
            return file.read()

    def run(self, method, stdin):
        """Runs a method as dsc does: exit code, stdout lines, stderr lines."""
        entry = self.manifest[method]
        program = os.path.join(self.folder, entry["executable"])
        command = [program] + entry.get("args", [])
        env = dict(os.environ)
        if self.args.mode == "sim":
            env["VELMORA_SIM_STATE"] = self.state_file
        else:
            command.insert(0, self.args.wine)
        done = subprocess.run(command, input=stdin.encode("utf-8"), capture_output=True, env=env, timeout=120,
                              check=False)
        if self.args.mode == "wine" and not done.stdout and not done.stderr:
            # Every answer prints a line: a run that printed nothing never started
            # the program, as one Wine start in hundreds does on a loaded machine.
            print(f"{method}: Wine gave exit code {done.returncode} and no output; starting it again")
            done = subprocess.run(command, input=stdin.encode("utf-8"), capture_output=True, env=env, timeout=120,
                                  check=False)
        return (done.returncode, done.stdout.decode("utf-8").splitlines(),
                done.stderr.decode("utf-8", "replace").splitlines())


def check_manifest(resource):
    manifest = resource.manifest
    for message in schemas.errors(schemas.manifest_validator(), manifest):
        failures.fail("the manifest against the published schema", message)
    unknown = set(manifest) - schemas.manifest_fields()
    expect("fields the engine does not know", set(), unknown)
    expect("set tests first itself (then dsc answers no what-if)", False,
           manifest["set"].get("implementsPretest", False))
    for method in ("get", "test", "set"):
        entry = manifest[method]
        expect(method, "its executable beside the manifest", True,
               os.path.isfile(os.path.join(resource.folder, entry["executable"])))
        expect(method, "its input", "stdin", entry.get("input"))
        expect(method, "its args", [method], entry.get("args"))
    expect("the exit codes listed", ["0", "1", "2", "3", "4"], sorted(manifest["exitCodes"]))


def check_answer(where, validator, answer, seen):
    code, out, err = answer
    seen.add(code)
    for line in err:
        try:
            message = json.loads(line)
        except ValueError:
            message = None
        if not (isinstance(message, dict) and len(message) == 1 and next(iter(message)) in LEVELS
                and isinstance(next(iter(message.values())), str)):
            failures.fail(where, f"a line of standard error that is no message of dsc's: {line!r}")
    levels = [next(iter(json.loads(line))) for line in err if line.startswith("{")]
    if code != 0:
        expect(where, "an error message, last", "error", levels[-1] if levels else None)
        expect(where, "nothing on standard output", [], out)
        return None
    expect(where, "lines on standard output", 1, len(out))
    if len(out) != 1:
        return None
    state = json.loads(out[0])
    for message in schemas.errors(validator, state):
        failures.fail(where, "the state against the instance schema", message)
    return state


def main():
    parser = mode_parser(__doc__)
    parser.add_argument("--manifest", required=True)
    parser.add_argument("--program", help="sim: the simulated system's VelmoraState")
    parser.add_argument("--bits", type=int, default=64, help="sim: the width of the program")
    parser.add_argument("--cache-sim", help="wine: the folder of CACHESIM.dll and its copies")
    args = parser.parse_args()
    wine = args.mode == "wine"
    bits = 64 if wine else args.bits
    with tempfile.TemporaryDirectory(prefix="velmora-dsc-") as folder:
        resource = Resource(args, folder)
        check_manifest(resource)
        validator = schemas.instance_validator(resource.manifest)
        seen = set()

        # get with no desired state at all: standard input empty.
        resource.write("min=268435456\nmax=2147483648\nflags=5\n")
        state = check_answer("get without input", validator, resource.run("get", ""), seen)
        expect("get without input", "the limits in force", [True, 268435456, 2147483648, 5],
               [state and state.get(key) for key in ("hardLimits", "minimumBytes", "maximumBytes", "flags")])

        for rule, system, wanted, test, set_ in table(os.path.join(args.source, "tests", "state", "WantedStates.txt"),
                                                      bits, wine):
            # The table's JSON is one compact line already, as dsc sends it.
            line = wanted
            # What-if: dsc asks test, and nothing changes.
            resource.write(system)
            answer = resource.run("test", line)
            tested = check_answer(f"{rule}: test", validator, answer, seen)
            verdict = test.split(",")[0]
            if verdict.startswith("refused"):
                expect(rule, "test's exit code", REFUSALS[verdict.split()[1]], answer[0])
            else:
                expect(rule, "what-if: in the desired state", verdict == "true",
                       tested and tested.get("_inDesiredState"))
            expect(rule, "what-if changed nothing", system, resource.state())
            # Set, as dsc runs it for a set that does not test first: test, then
            # set where the state is not the desired one.
            if not (tested and tested.get("_inDesiredState")):
                code, out, err = resource.run("set", line)
                check_answer(f"{rule}: set", validator, (code, out, err), seen)
                outcome = set_.split(",")[0].split()
                expect(rule, "set's exit code", REFUSALS[outcome[1]] if outcome[0] == "refused" else 0, code)
            # get, with the desired state as input.
            check_answer(f"{rule}: get", validator, resource.run("get", line), seen)

        expect("the exit codes the methods ended with", {int(code) for code in resource.manifest["exitCodes"]}, seen)
    print(f"the DSC 3 resource ({args.mode}):")
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
