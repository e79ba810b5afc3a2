#!/usr/bin/env python3
"""Runs the Ansible play velmora.yml: ansible-playbook's syntax check of the play
as it ships, then its read and set on three simulated hosts on this machine
(capped already, untouched, and one whose -G fails), with --check, then twice
for real, then with other sizes.

ansible.builtin.command stands in for ansible.windows.win_command (no Windows
here), each host's Velmora is the simulated system's with a state of its own,
and the runas become, which only Windows has, is dropped.

Usage: check_play.py PLAY --velmora PATH
"""

import argparse
import os
import re
import sys
import tempfile

import yaml

from checking import Failures, run, state_of

HOSTS = {"capped": "min=268435456\nmax=2147483648\nflags=5\n",
         "untouched": "",
         "broken": "fail.GetSystemFileCacheSize=5\n"}


def local_play(play, scratch):
    """The play with its Windows-only parts replaced, as a file in scratch."""
    plays = yaml.safe_load(open(play, encoding="utf-8"))
    for each in plays:
        each["environment"] = {"VELMORA_SIM_STATE": "{{ sim_state }}"}
        for task in each["tasks"]:
            task["ansible.builtin.command"] = task.pop("ansible.windows.win_command")
            for key in ("become", "become_method", "become_user"):
                task.pop(key, None)
    path = os.path.join(scratch, "local-play.yml")
    with open(path, "w") as file:
        yaml.safe_dump(plays, file, sort_keys=False)
    return path


def inventory(scratch):
    """The three hosts, each a local connection with its own state file."""
    path = os.path.join(scratch, "inventory.ini")
    with open(path, "w") as file:
        file.write("[windows]\n")
        for name, state in HOSTS.items():
            state_path = os.path.join(scratch, f"{name}.state")
            with open(state_path, "w") as state_file:
                state_file.write(state)
            file.write(f"{name} ansible_connection=local ansible_python_interpreter={sys.executable} "
                       f"sim_state={state_path}\n")
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("play")
    parser.add_argument("--velmora", required=True, help="the simulated system's Velmora")
    arguments = parser.parse_args()
    failures = Failures()
    play = os.path.basename(arguments.play)
    with tempfile.TemporaryDirectory(prefix="velmora-play-") as scratch:
        environment = dict(os.environ, ANSIBLE_NOCOLOR="1", ANSIBLE_LOCAL_TEMP=scratch,
                           ANSIBLE_REMOTE_TEMP=scratch, ANSIBLE_RETRY_FILES_ENABLED="0",
                           ANSIBLE_LOCALHOST_WARNING="0", ANSIBLE_INVENTORY_UNPARSED_WARNING="0")
        result = run(["ansible-playbook", "--syntax-check", arguments.play], env=environment)
        failures.expect(play, "ansible-playbook --syntax-check: exit code", 0, result.returncode)
        if result.returncode != 0:
            failures.fail(play, result.stdout + result.stderr)
            return failures.report()

        hosts = inventory(scratch)
        local = local_play(arguments.play, scratch)

        def states():
            return {host: state_of(os.path.join(scratch, f"{host}.state")) for host in HOSTS}

        def play_run(*options):
            result = run(["ansible-playbook", "-i", hosts, "-e", f"velmora={os.path.abspath(arguments.velmora)}",
                          *options, local], env=environment)
            recap = dict(re.findall(r"^(\w+)\s+: (ok=.*)$", result.stdout, re.M))
            return {host: dict(re.findall(r"(\w+)=(\d+)", recap.get(host, ""))) for host in HOSTS}

        before = states()
        counts = play_run("--check")
        for host, changed, failed in (("capped", "0", "0"), ("untouched", "1", "0"), ("broken", "0", "1")):
            failures.expect(play, f"--check on the {host} host: changed, failed", (changed, failed),
                            (counts[host].get("changed"), counts[host].get("failed")))
        failures.expect(play, "--check changes no host", before, states())

        counts = play_run()
        after = states()
        failures.expect(play, "run: the untouched host is capped", ("268435456", "2147483648", "5"),
                        tuple(after["untouched"].get(key) for key in ("min", "max", "flags")))
        failures.expect(play, "run: the capped host is left alone", before["capped"], after["capped"])
        failures.expect(play, "run: the broken host fails", "1", counts["broken"].get("failed"))

        counts = play_run()
        for host in ("capped", "untouched"):
            failures.expect(play, f"second run on the {host} host: changed", "0", counts[host].get("changed"))

        counts = play_run("-e", "velmora_minimum_mb=512", "-e", "velmora_maximum_mb=3072")
        after = states()
        for host in ("capped", "untouched"):
            # The read that found other limits, and the set.
            failures.expect(play, f"other sizes on the {host} host: changed, failed", ("2", "0"),
                            (counts[host].get("changed"), counts[host].get("failed")))
            failures.expect(play, f"other sizes on the {host} host: the limits", ("536870912", "3221225472", "5"),
                            tuple(after[host].get(key) for key in ("min", "max", "flags")))
    return failures.report()


if __name__ == "__main__":
    sys.exit(main())
