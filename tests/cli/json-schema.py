#!/usr/bin/python3
"""Runs every command korvane-fw answers in JSON on every built-in scenario and validates each
answer against docs/schema/korvane-fw.schema.json. Usage: json-schema.py KORVANE_FW SCHEMA."""

import json
import os
import re
import subprocess
import sys
import tempfile

import jsonschema

# Each command as run, with the schema entry its answer must match. The update writes, so each
# scenario gets a state folder of its own, and the commands run in this order on it. inspect reads
# the backup kept, or says it cannot (a JSON answer too); verify compares it where it was kept.
COMMANDS = [
    (["list"], "list"),
    (["check"], "check"),
    (["backup"], "backup"),
    (["backup", "--output", "{folder}/kept.bin"], "backup"),
    (["inspect", "{folder}/kept.bin"], "inspect"),
    (["verify", "{folder}/kept.bin"], "verify"),
    (["update", "--yes", "--no-replug"], "update"),
    (["history"], "history"),
    (["report", "--output", "{folder}/report.jsonl"], "report"),
]


def run(program, args, state):
    env = dict(os.environ, XDG_STATE_HOME=state)
    return subprocess.run([program] + args, capture_output=True, text=True, env=env,
                          stdin=subprocess.DEVNULL, timeout=120, check=False)


def scenario_names(program, state):
    """The built-in scenarios, as the program names them."""
    listed = run(program, ["--list-scenarios"], state)
    if listed.returncode == 0 and listed.stdout.strip():
        return listed.stdout.split()
    # Without that option, the refusal of an unknown name lists them.
    refused = run(program, ["--simulate", "no such scenario", "list"], state)
    found = re.search(r"no built-in scenario has that name \(([^)]*)\)", refused.stderr)
    if not found:
        sys.exit("cannot learn the built-in scenarios from korvane-fw: " + refused.stderr)
    return [name.strip() for name in found.group(1).split(",")]


def validate(validator, schema, entry, answer):
    """Problems of one answer against $defs/entry, as lines."""
    checker = validator({"$schema": schema["$schema"], "$defs": schema["$defs"],
                         "$ref": "#/$defs/" + entry})
    return [f"{'/'.join(map(str, error.absolute_path)) or '(top)'}: {error.message[:300]}"
            for error in checker.iter_errors(answer)]


def check_run(program, validator, schema, scenario, command, entry, folder):
    args = [part.format(folder=folder) for part in command]
    if entry not in ("history", "inspect"):
        args = ["--simulate", scenario] + args
    result = run(program, ["--json"] + args, folder)
    name = f"{scenario}: {' '.join(command)}"
    try:
        answer = json.loads(result.stdout)
    except json.JSONDecodeError as error:
        return [f"{name}: not JSON ({error}); exit {result.returncode}; stderr: {result.stderr}"]
    problems = validate(validator, schema, entry, answer)
    if answer.get("exit_status") != result.returncode:
        problems.append(f"exit_status {answer.get('exit_status')}, exit code {result.returncode}")
    if answer.get("program", {}).get("argv", [])[1:] != ["--json"] + args:
        problems.append("argv is not the command line")
    return [f"{name}: {problem}" for problem in problems]


def main():
    program, schema_path = sys.argv[1], sys.argv[2]
    with open(schema_path, encoding="utf-8") as file:
        schema = json.load(file)
    validator = jsonschema.validators.validator_for(schema)
    validator.check_schema(schema)
    problems, runs = [], 0
    with tempfile.TemporaryDirectory() as top:
        names = scenario_names(program, top)
        for scenario in names:
            folder = os.path.join(top, re.sub(r"[^A-Za-z0-9_.-]", "_", scenario))
            os.mkdir(folder)
            for command, entry in COMMANDS:
                # A file that cannot be read is an argument's error: one line, no JSON.
                if entry == "verify" and not os.path.exists(os.path.join(folder, "kept.bin")):
                    continue
                problems += check_run(program, validator, schema, scenario, command, entry, folder)
                runs += 1
    for problem in problems:
        print(problem)
    print(f"{runs} answers of {len(names)} scenarios checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
