#!/usr/bin/python3
"""validate_json.py SCHEMA DOC...

Checks that SCHEMA is a valid JSON Schema (draft 2020-12) and that every
line of every DOC is a JSON document it accepts.  Run by /usr/bin/python3
with Debian's python3-jsonschema.

Stricter than the schema alone, since the documents come from this build:
- a member a schema object does not list is refused (the published
  schemas allow new members; this build must write none it does not
  document),
- a name twice in one object, a number with a fraction or exponent, NaN
  and Infinity are refused, and the text must be UTF-8 of whole lines.

Exit status: 0 all valid, 1 not, 2 usage, 3 no jsonschema module.
"""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("no module jsonschema for %s (Debian package python3-jsonschema)" % sys.executable)
    sys.exit(3)

# Where a subschema describes members of the document rather than a
# condition on them: only there are objects closed.
DESCENDING = ("properties", "$defs", "anyOf", "oneOf", "items", "additionalProperties")


def closed(schema):
    if isinstance(schema, list):
        return [closed(s) for s in schema]
    if not isinstance(schema, dict):
        return schema
    out = dict(schema)
    for key in DESCENDING:
        if key not in out:
            continue
        value = out[key]
        if key in ("properties", "$defs"):
            out[key] = {name: closed(s) for name, s in value.items()}
        else:
            out[key] = closed(value)
    if "properties" in out and "additionalProperties" not in out and out.get("type") == "object":
        out["additionalProperties"] = False
    return out


def pairs(items):
    seen = set()
    for name, _ in items:
        if name in seen:
            raise ValueError("member %r twice in one object" % name)
        seen.add(name)
    return dict(items)


def refuse(text):
    raise ValueError("number %s is not an integer literal" % text)


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[0])
        return 2
    with open(argv[1], "rb") as f:
        schema = json.loads(f.read().decode("utf-8"), object_pairs_hook=pairs)
    validator_class = jsonschema.validators.validator_for(schema)
    try:
        validator_class.check_schema(schema)
    except jsonschema.exceptions.SchemaError as e:
        print("%s: not a valid schema: %s" % (argv[1], e.message))
        return 1
    validator = validator_class(closed(schema))
    failures = 0
    documents = 0
    for path in argv[2:]:
        with open(path, "rb") as f:
            raw = f.read()
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError as e:
            print("%s: not UTF-8: %s" % (path, e))
            failures += 1
            continue
        if not text.endswith("\n"):
            print("%s: empty, or its last line does not end" % path)
            failures += 1
            continue
        for number, line in enumerate(text[:-1].split("\n"), 1):
            documents += 1
            try:
                doc = json.loads(line, object_pairs_hook=pairs, parse_float=refuse, parse_constant=refuse)
            except ValueError as e:
                print("%s:%d: %s" % (path, number, e))
                failures += 1
                continue
            for error in validator.iter_errors(doc):
                where = "/".join(str(p) for p in error.absolute_path)
                print("%s:%d: at /%s: %s" % (path, number, where, error.message[:300]))
                failures += 1
    print("%d documents in %d files against %s: %d errors" % (documents, len(argv) - 2, argv[1], failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
