#!/usr/bin/env python3
"""Every record rire-host writes with --format json, running each transcript
given and inspecting the state it leaves, is valid against the published
schema (rire-host.schema.json), and standard error stays empty.

usage: json_schema.py SCHEMA RIRE_HOST LAUNCHER FILE.t..."""
import json
import os
import subprocess
import sys
import tempfile

try:
    import jsonschema
except ImportError:
    sys.exit("FAIL: python3 has no jsonschema module (Debian: python3-jsonschema)")


def main():
    schema_path, host, launcher, files = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    host = os.path.abspath(host)
    with open(schema_path) as f:
        validator = jsonschema.Draft202012Validator(json.load(f))
    prefix = [launcher] if launcher else []
    seen, bad = set(), 0
    with tempfile.TemporaryDirectory() as tmp:
        for n, path in enumerate(files):
            state = os.path.join(tmp, str(n))
            runs = [["--state", state, os.path.basename(path)], ["inspect", "--tail", "3", state]]
            if n == 0:  # explore's records: a clean run, and a divergence of a planted fault
                out = os.path.join(tmp, "divergence.t")
                runs += [["explore", "--runs", "2", "--faults"],
                         ["explore", "--runs", "20", "--plant-model-fault", "--out", out]]
            for args in runs:
                r = subprocess.run(prefix + [host, "--format", "json"] + args,
                                   cwd=os.path.dirname(os.path.abspath(path)),
                                   capture_output=True, text=True, timeout=300)
                if r.stderr:
                    print(f"FAIL: {path} {args[-2]}: standard error: {r.stderr[:300]}")
                    bad += 1
                for line in r.stdout.splitlines():
                    record = json.loads(line)
                    seen.add(record.get("type"))
                    for e in validator.iter_errors(record):
                        print(f"FAIL: {path} {args[-2]}: {line[:200]}\n  {e.message[:300]}")
                        bad += 1
    print(f"{len(files)} runs, record types seen: {' '.join(sorted(seen))}")
    sys.exit(1 if bad else 0)


main()
