"""What the project's Python checkers share: the failures of a run, each one fact
with what was expected and what came; running a command; and a simulated
Windows in a scratch folder, for scripts run with the simulated system's Velmora.

A checker puts its own folder's path to this one first on sys.path and imports it.
"""

import argparse
import os
import subprocess
import tempfile


class Failures:
    """The checks of one run: expect() and fail() take the place a fact is about
    (a file, a block, a case: any number of parts) and then the fact."""

    def __init__(self):
        self.messages, self.checks = [], 0

    def expect(self, *where_what_expected_got):
        *where, expected, got = where_what_expected_got
        self.checks += 1
        if expected != got:
            self.messages.append(f"{': '.join(map(str, where))}\n    expected: {expected!r}\n    got:      {got!r}")

    def fail(self, *where_and_message):
        self.checks += 1
        self.messages.append(": ".join(map(str, where_and_message)))

    def report(self):
        """Prints every failure and a count; the process's exit code."""
        for message in self.messages:
            print(message)
        print(f"{self.checks - len(self.messages)} passed, {len(self.messages)} failed")
        return 1 if self.messages else 0


def mode_parser(doc):
    """The command line of a checker with a sim and a wine mode: the mode, the
    source folder, and the programs each mode runs; the checker adds its own."""
    parser = argparse.ArgumentParser(description=doc.split("\n")[0])
    parser.add_argument("mode", choices=["sim", "wine"])
    parser.add_argument("source")
    parser.add_argument("--velmora", help="sim: the simulated system's Velmora")
    parser.add_argument("--pwsh", default="pwsh", help="sim: PowerShell 7")
    parser.add_argument("--wine", help="wine: scripts/wine.sh")
    return parser


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=300, **options)


def state_of(path):
    """The simulated system's state file as key: value (empty when absent)."""
    if not os.path.exists(path):
        return {}
    with open(path, encoding="ascii") as state:
        return dict(line.split("=", 1) for line in state.read().splitlines() if line)


def limits_of(path):
    """The limits a simulated system holds: min, max and flags, None where unset."""
    held = state_of(path)
    return held.get("min"), held.get("max"), held.get("flags")


def windows_path(path):
    """A path of this machine as Wine's programs see it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Sim:
    """A simulated Windows in a scratch folder: %ProgramFiles%\\Velmora\\Velmora.exe
    is the simulated system's Velmora, with the VelmoraState built beside it,
    %ProgramData%\\Velmora the records folder."""

    def __init__(self, velmora, scratch, pwsh="pwsh"):
        self.root = tempfile.mkdtemp(dir=scratch)
        self.pwsh_path = pwsh
        self.program_files = os.path.join(self.root, "Program Files")
        self.program = os.path.join(self.program_files, "Velmora")
        self.program_data = os.path.join(self.root, "ProgramData")
        self.local_app_data = os.path.join(self.root, "AppData", "Local")
        os.makedirs(self.program)
        os.makedirs(os.path.join(self.program_data, "Velmora"))
        os.symlink(os.path.abspath(velmora), os.path.join(self.program, "Velmora.exe"))
        self.velmora = os.path.abspath(velmora)
        self.velmora_state = os.path.join(os.path.dirname(self.velmora), "VelmoraState")
        os.symlink(self.velmora_state, os.path.join(self.program, "VelmoraState.exe"))
        self.state = os.path.join(self.root, "velmora-sim.state")
        self.record = os.path.join(self.program_data, "Velmora", "before.txt")

    def set_state(self, text):
        with open(self.state, "w", encoding="ascii") as state:
            state.write(text)

    def environment(self):
        return dict(os.environ, ProgramFiles=self.program_files, ProgramData=self.program_data,
                    LOCALAPPDATA=self.local_app_data,
                    VELMORA_SIM_STATE=self.state, VELMORA_EXE=self.velmora, VELMORA_STATE_EXE=self.velmora_state)

    def velmora_g(self):
        return run([self.velmora, "-G"], env=self.environment()).stdout

    def pwsh_file(self, script):
        """Runs a script file as `powershell -File` does."""
        return run([self.pwsh_path, "-NoLogo", "-NoProfile", "-NonInteractive", "-File", script],
                   env=self.environment(), cwd=self.root)

    def pwsh(self, script_text, prelude=""):
        """Runs a block of PowerShell, as a script of its own."""
        script = os.path.join(self.root, "block.ps1")
        with open(script, "w", encoding="utf-8") as file:
            file.write(prelude + script_text)
        return self.pwsh_file(script)
