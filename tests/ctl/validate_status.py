"""Checks status files against the schema: validate_status.py SCHEMA FILE...

Exit status 0 when every file is valid, 1 when one is not (named on stderr),
2 when the schema itself is not a valid draft 2020-12 schema.
"""
import json
import sys

import jsonschema

schema = json.load(open(sys.argv[1]))
try:
    jsonschema.Draft202012Validator.check_schema(schema)
except jsonschema.SchemaError as e:
    print(f"schema: {e.message}", file=sys.stderr)
    sys.exit(2)
validator = jsonschema.Draft202012Validator(schema)
bad = 0
for path in sys.argv[2:]:
    for error in validator.iter_errors(json.load(open(path))):
        print(f"{path}: {error.message}", file=sys.stderr)
        bad = 1
sys.exit(bad)
