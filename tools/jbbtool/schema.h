// The JSON that jbbtool writes, documented once here as JSON Schema
// documents (draft 2020-12).  `jbbtool schema NAME` prints them and
// `cmake --install` installs them as jbbtool.NAME-VERSION.schema.json
// (tools/jbbtool/CMakeLists.txt reads each literal R"NAME(...)NAME" from
// this file, so keep that form).  What a schema cannot say is here:
//
// Versions.  Every document names its schema and version in "schema" (of
// JSON lines, the head line of dump and the summary line of diff).  A
// version changes only when a member is removed or changes meaning, or
// when a code is added to a code list; new members may be added to any
// object without a new version.  The schemas therefore leave
// "additionalProperties" open on the objects of a document (a reader
// ignores members it does not know), and close only the maps keyed by
// codes, numbers or type names.
//
// Text is UTF-8.  A key is a JSON string of its UTF-16 units, an unpaired
// surrogate written as its \uXXXX escape.  Integers are JSON numbers
// without fraction or exponent (64-bit values are exact in readers that
// keep integers whole).  Members come in the order "properties" lists
// them.
//
// One way to show each thing: a magic number as the string "0xABCD"; a
// coded value (a state, an action, an object type) as its number with its
// name beside it in a member NAMEName (null for a code without a name);
// a time as seconds since 1970 UTC with the same time as text beside it
// in a member NAMEUtc ("YYYY-MM-DDTHH:MM:SSZ").
//
// check and stats: one document per file, each on a line of its own and
// naming its file.  check: "summary" lists the classes in the order of the
// finding code list; "findings" lists at most 1000 findings of each class.
// dump: the head line first, then one entry line per entry in key order.
// diff: one line per difference in key order, then the summary line.
#pragma once

namespace jbbtool {

// ---- jbbtool check --json: one document ----
inline constexpr char kCheckSchema[] = R"check({
  "$schema": "https://json-schema.org/draft/2020-12/schema",
  "$id": "urn:jbbtool:check:3",
  "title": "jbbtool.check/3",
  "description": "jbbtool check --json: the structural verification of one database file (one such document per line, a line per file).",
  "type": "object",
  "required": ["schema", "file", "fileSize", "sound", "markedOpen", "control", "counts", "summary",
               "findings", "findingsOmitted", "notes", "notesOmitted"],
  "properties": {
    "schema": {"const": "jbbtool.check/3"},
    "file": {"type": "string", "description": "The path as given."},
    "fileSize": {"$ref": "#/$defs/offset", "description": "Bytes."},
    "sound": {"type": "boolean", "description": "True when there is no finding (notes do not count)."},
    "markedOpen": {"type": "boolean", "description": "True when the control record says dbOpened (state 1)."},
    "control": {
      "description": "The control record's fields as the record holds them, null for a file shorter than the 2088-byte control record (check itself reports such a file on standard error as no journal database, without a document).",
      "anyOf": [{"type": "null"}, {"$ref": "#/$defs/control"}]
    },
    "counts": {
      "description": "What the pass met.",
      "type": "object",
      "required": ["slots", "usedSlots", "freeSlots", "reachableNodes", "entries", "depth"],
      "properties": {
        "slots": {"$ref": "#/$defs/count"},
        "usedSlots": {"$ref": "#/$defs/count", "description": "Slots holding a node."},
        "freeSlots": {"$ref": "#/$defs/count"},
        "reachableNodes": {"$ref": "#/$defs/count", "description": "Nodes the root reaches."},
        "entries": {"$ref": "#/$defs/count"},
        "depth": {"type": "integer", "minimum": 0, "maximum": 2147483647,
                  "description": "Levels from the root to the leaves (the depth of most leaves), 0 without a tree."}
      }
    },
    "summary": {
      "description": "The number of findings of each class met.",
      "type": "object",
      "propertyNames": {"$ref": "#/$defs/findingCode"},
      "additionalProperties": {"type": "integer", "minimum": 1, "maximum": 18446744073709551615}
    },
    "findings": {"type": "array", "maxItems": 23000, "items": {"$ref": "#/$defs/finding"},
                 "description": "At most 1000 of each class."},
    "findingsOmitted": {"$ref": "#/$defs/count", "description": "Findings beyond those listed."},
    "notes": {"type": "array", "maxItems": 1000, "items": {"$ref": "#/$defs/note"},
              "description": "What is noteworthy but sound, at most 1000."},
    "notesOmitted": {"$ref": "#/$defs/count", "description": "Notes beyond those listed."}
  },
  "allOf": [
    {
      "if": {"properties": {"sound": {"const": true}}},
      "then": {"properties": {"summary": {"maxProperties": 0}, "findings": {"maxItems": 0},
                              "findingsOmitted": {"const": 0}}},
      "else": {"properties": {"summary": {"minProperties": 1}, "findings": {"minItems": 1}}}
    },
    {
      "if": {"properties": {"findings": {"maxItems": 999}}},
      "then": {"properties": {"findingsOmitted": {"const": 0}}}
    },
    {
      "if": {"properties": {"notes": {"maxItems": 999}}},
      "then": {"properties": {"notesOmitted": {"const": 0}}}
    },
    {
      "if": {"properties": {"control": {"type": "null"}}},
      "then": {"properties": {"fileSize": {"maximum": 2087}, "sound": {"const": false},
                              "summary": {"required": ["ctrl-short"]}}},
      "else": {"properties": {"fileSize": {"minimum": 2088}, "summary": {"not": {"required": ["ctrl-short"]}}}}
    },
    {
      "if": {"properties": {"control": {"type": "object", "properties": {"state": {"const": 1}}}}},
      "then": {"properties": {"markedOpen": {"const": true}}},
      "else": {"properties": {"markedOpen": {"const": false}}}
    }
  ],
  "$defs": {
    "count": {"type": "integer", "minimum": 0, "maximum": 18446744073709551615},
    "offset": {"type": "integer", "minimum": 0, "maximum": 9223372036854775807},
    "u8": {"type": "integer", "minimum": 0, "maximum": 255},
    "u16": {"type": "integer", "minimum": 0, "maximum": 65535},
    "u32": {"type": "integer", "minimum": 0, "maximum": 4294967295},
    "magic": {"type": "string", "pattern": "^0x[0-9A-F]{4}$", "description": "The magic number as 0x and four upper-case hexadecimal digits."},
    "stateName": {"enum": ["dbClosed", "dbOpened", "dbCorrupt", null],
                  "description": "The state's name, null for an unknown state."},
    "control": {
      "type": "object",
      "required": ["magic", "versionMajor", "versionMinor", "state", "stateName", "rootOffset", "indexArraySize",
                   "currentIXCount", "lastIndex", "lastNDRec", "dbKeyLen", "dbDataLen"],
      "properties": {
        "magic": {"$ref": "#/$defs/magic", "description": "\"0xABCD\" in a database."},
        "versionMajor": {"$ref": "#/$defs/u8", "description": "2 in a database of this format."},
        "versionMinor": {"$ref": "#/$defs/u8", "description": "2 in a database of this format."},
        "state": {"$ref": "#/$defs/u32", "description": "0 dbClosed, 1 dbOpened, 2 dbCorrupt."},
        "stateName": {"$ref": "#/$defs/stateName"},
        "rootOffset": {"$ref": "#/$defs/u32", "description": "Subscript of the root node, 0 for none."},
        "indexArraySize": {"$ref": "#/$defs/u32", "description": "Entries allocated in the index array."},
        "currentIXCount": {"$ref": "#/$defs/u32", "description": "The next subscript to hand out."},
        "lastIndex": {"$ref": "#/$defs/u32", "description": "Subscript of the node in the last slot."},
        "lastNDRec": {"type": "integer", "minimum": -9223372036854775808, "maximum": 9223372036854775807,
                      "description": "File offset of the last slot."},
        "dbKeyLen": {"$ref": "#/$defs/u16", "description": "0: keys of variable length."},
        "dbDataLen": {"$ref": "#/$defs/u16", "description": "Bytes of the data record under every key."}
      }
    },
    "finding": {
      "type": "object",
      "required": ["code", "subscript", "offset", "message"],
      "properties": {
        "code": {"$ref": "#/$defs/findingCode"},
        "subscript": {"anyOf": [{"type": "null"}, {"type": "integer", "minimum": 1, "maximum": 4294967295}],
                      "description": "Subscript of the node, null when none applies."},
        "offset": {"anyOf": [{"type": "null"}, {"$ref": "#/$defs/offset"}],
                   "description": "File offset, null when none applies."},
        "message": {"type": "string", "minLength": 1, "description": "What was found, for people."}
      }
    },
    "note": {
      "description": "The same shape as a finding.",
      "type": "object",
      "required": ["code", "subscript", "offset", "message"],
      "properties": {
        "code": {"$ref": "#/$defs/noteCode"},
        "subscript": {"$ref": "#/$defs/finding/properties/subscript"},
        "offset": {"$ref": "#/$defs/finding/properties/offset"},
        "message": {"$ref": "#/$defs/finding/properties/message"}
      }
    },
    "findingCode": {
      "description": "The finding classes in the order reports list them.  The text output uses the same codes.",
      "oneOf": [
        {"const": "ctrl-short", "description": "The file is shorter than the 2088-byte control record."},
        {"const": "ctrl-magic", "description": "The control record's magic number is not 0xABCD."},
        {"const": "ctrl-version", "description": "The format version is not 2.2."},
        {"const": "ctrl-state", "description": "The file is marked dbCorrupt, or the state is unknown."},
        {"const": "ctrl-field", "description": "A control-record field disagrees with the file (rootOffset, indexArraySize, currentIXCount, lastIndex, lastNDRec, dbKeyLen)."},
        {"const": "bad-magic", "description": "A slot's info block has a bad magic number."},
        {"const": "slot-gap", "description": "Bytes between slots that hold no slot."},
        {"const": "slot-overlap", "description": "A slot reaches into the next one (its length, or its node's size, is too large)."},
        {"const": "slot-past-end", "description": "The last slot reaches past the end of the file."},
        {"const": "slot-state", "description": "A slot state other than 0 (node) or 1 (free)."},
        {"const": "bad-subscript", "description": "A slot names subscript 0 or one not below currentIXCount."},
        {"const": "duplicate-subscript", "description": "Two slots name the same subscript."},
        {"const": "free-slot-header", "description": "A free slot's info block is inconsistent."},
        {"const": "datum-bounds", "description": "A node's size, datum count or a datum's fields lie out of bounds."},
        {"const": "key-order", "description": "Keys not ascending within a node."},
        {"const": "key-order-across", "description": "Keys not ascending across nodes."},
        {"const": "bad-branch", "description": "An inner node's branch names no node."},
        {"const": "node-unreachable", "description": "A node the root does not reach."},
        {"const": "node-reached-twice", "description": "A node reached by two branches."},
        {"const": "node-cycle", "description": "A node reached from itself."},
        {"const": "node-fill", "description": "A node other than the root outside 5 to 10 datums (or an inner root without datums)."},
        {"const": "leaf-depth", "description": "A leaf at another depth than most leaves."},
        {"const": "just-created-entries", "description": "The journal type is 0 (just created, which jbbview offers for deletion), yet the tree holds entries."}
      ]
    },
    "noteCode": {
      "oneOf": [
        {"const": "key-unpaired-surrogate", "description": "A key holding an unpaired surrogate (a legal Windows file name)."}
      ]
    }
  }
})check";

// ---- jbbtool stats --json: one document ----
inline constexpr char kStatsSchema[] = R"stats({
  "$schema": "https://json-schema.org/draft/2020-12/schema",
  "$id": "urn:jbbtool:stats:2",
  "title": "jbbtool.stats/2",
  "description": "jbbtool stats --json: what a journal holds and how its file is used, from one pass over the slots (one such document per line, a line per file).",
  "type": "object",
  "required": ["schema", "file", "fileSize", "control", "slots", "nodes", "freeSlots", "freeBytes", "nodeBytes",
               "nodeSlotBytes", "damaged", "entries", "depth", "levels", "keyLengths", "actions", "objectTypes",
               "inserted", "objectTime", "directories", "topDirectories"],
  "properties": {
    "schema": {"const": "jbbtool.stats/2"},
    "file": {"type": "string", "description": "The path as given."},
    "fileSize": {"$ref": "#/$defs/offset", "minimum": 2088, "description": "Bytes."},
    "control": {
      "description": "The control record's fields as the record holds them (as in jbbtool.check/3).",
      "type": "object",
      "required": ["magic", "versionMajor", "versionMinor", "state", "stateName", "rootOffset", "indexArraySize",
                   "currentIXCount", "lastIndex", "lastNDRec", "dbKeyLen", "dbDataLen"],
      "properties": {
        "magic": {"const": "0xABCD", "description": "stats reports only on journal databases."},
        "versionMajor": {"const": 2},
        "versionMinor": {"const": 2},
        "state": {"$ref": "#/$defs/u32", "description": "0 dbClosed, 1 dbOpened, 2 dbCorrupt."},
        "stateName": {"enum": ["dbClosed", "dbOpened", "dbCorrupt", null],
                      "description": "The state's name, null for an unknown state."},
        "rootOffset": {"$ref": "#/$defs/u32"},
        "indexArraySize": {"$ref": "#/$defs/u32"},
        "currentIXCount": {"$ref": "#/$defs/u32"},
        "lastIndex": {"$ref": "#/$defs/u32"},
        "lastNDRec": {"$ref": "#/$defs/i64"},
        "dbKeyLen": {"$ref": "#/$defs/u16"},
        "dbDataLen": {"$ref": "#/$defs/u16"}
      }
    },
    "slots": {"$ref": "#/$defs/count"},
    "nodes": {"$ref": "#/$defs/count", "description": "Slots holding a node."},
    "freeSlots": {"$ref": "#/$defs/count"},
    "freeBytes": {"$ref": "#/$defs/count", "description": "Bytes of the free slots."},
    "nodeBytes": {"$ref": "#/$defs/count", "description": "Bytes of node images."},
    "nodeSlotBytes": {"$ref": "#/$defs/count",
                      "description": "Bytes of the slots holding them: the difference is slack."},
    "damaged": {"$ref": "#/$defs/count", "description": "Slots or nodes the pass could not use."},
    "entries": {"$ref": "#/$defs/count"},
    "depth": {"type": "integer", "minimum": 0, "maximum": 64, "description": "The number of levels, the root's included."},
    "levels": {
      "description": "The levels from the root down (at most 64).",
      "type": "array",
      "maxItems": 64,
      "items": {
        "type": "object",
        "required": ["nodes", "byDatums"],
        "properties": {
          "nodes": {"$ref": "#/$defs/count"},
          "byDatums": {"type": "array", "minItems": 11, "maxItems": 11, "items": {"$ref": "#/$defs/count"},
                       "description": "The number of nodes with 0, 1, ... 10 datums."}
        }
      }
    },
    "keyLengths": {
      "description": "Entries by key length in UTF-16 units: buckets 16 wide up to 256, then doubling, the last open.",
      "type": "array",
      "items": {
        "type": "object",
        "required": ["units", "entries"],
        "properties": {
          "units": {"type": "string", "pattern": "^(0|[1-9][0-9]*)-([1-9][0-9]*)?$", "description": "LO-HI, or LO- for the last bucket."},
          "entries": {"$ref": "#/$defs/count", "minimum": 1}
        }
      }
    },
    "actions": {
      "description": "Entries by the action code of their record, in ascending order of the code: 1 rename-old, 2 rename-new, 3 delete, 4 create, 5 change-attribute, 6 modify, 11 delete-restore, other codes without a name.",
      "type": "array",
      "items": {"$ref": "#/$defs/codeCount"}
    },
    "objectTypes": {
      "description": "Entries by the object type code of their record, in ascending order of the code: 1 file, 2 directory, other codes without a name (shown as directories elsewhere).",
      "type": "array",
      "items": {"$ref": "#/$defs/codeCount"}
    },
    "inserted": {"$ref": "#/$defs/timeRange", "description": "When the entries were put into the journal."},
    "objectTime": {"$ref": "#/$defs/timeRange", "description": "The objects' own time stamps."},
    "directories": {"$ref": "#/$defs/count", "description": "Distinct directory names of the keys read as paths."},
    "topDirectories": {
      "description": "The directories with the most entries, most first.",
      "type": "array",
      "maxItems": 20,
      "items": {
        "type": "object",
        "required": ["name", "entries"],
        "properties": {
          "name": {"type": "string"},
          "entries": {"$ref": "#/$defs/count", "minimum": 1}
        }
      }
    }
  },
  "if": {"properties": {"entries": {"const": 0}}},
  "then": {"properties": {"inserted": {"$ref": "#/$defs/noTimes"}, "objectTime": {"$ref": "#/$defs/noTimes"}}},
  "else": {"properties": {"inserted": {"$ref": "#/$defs/times"}, "objectTime": {"$ref": "#/$defs/times"}}},
  "$defs": {
    "count": {"type": "integer", "minimum": 0, "maximum": 18446744073709551615},
    "offset": {"type": "integer", "minimum": 0, "maximum": 9223372036854775807},
    "i64": {"type": "integer", "minimum": -9223372036854775808, "maximum": 9223372036854775807},
    "u8": {"type": "integer", "minimum": 0, "maximum": 255},
    "u16": {"type": "integer", "minimum": 0, "maximum": 65535},
    "u32": {"type": "integer", "minimum": 0, "maximum": 4294967295},
    "codeCount": {
      "type": "object",
      "required": ["code", "name", "entries"],
      "properties": {
        "code": {"$ref": "#/$defs/u32"},
        "name": {"anyOf": [{"type": "null"}, {"type": "string", "pattern": "^[a-z][a-z-]*$"}],
                 "description": "The code's name, null for a code without one."},
        "entries": {"$ref": "#/$defs/count", "minimum": 1}
      }
    },
    "timeRange": {
      "description": "Seconds since 1970 UTC and the same as UTC text; all null without entries.",
      "type": "object",
      "required": ["oldest", "newest", "oldestUtc", "newestUtc"],
      "properties": {
        "oldest": {"anyOf": [{"type": "null"}, {"$ref": "#/$defs/i64"}]},
        "newest": {"anyOf": [{"type": "null"}, {"$ref": "#/$defs/i64"}]},
        "oldestUtc": {"anyOf": [{"type": "null"}, {"$ref": "#/$defs/utcText"}]},
        "newestUtc": {"anyOf": [{"type": "null"}, {"$ref": "#/$defs/utcText"}]}
      }
    },
    "utcText": {"type": "string", "pattern": "^([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z|-?[0-9]+)$",
                "description": "YYYY-MM-DDTHH:MM:SSZ for times from 1970 to 9999, else the decimal number of seconds."},
    "noTimes": {"properties": {"oldest": {"type": "null"}, "newest": {"type": "null"},
                               "oldestUtc": {"type": "null"}, "newestUtc": {"type": "null"}}},
    "times": {"properties": {"oldest": {"type": "integer"}, "newest": {"type": "integer"},
                             "oldestUtc": {"type": "string"}, "newestUtc": {"type": "string"}}}
  }
})stats";

// ---- jbbtool dump --json: JSON lines, each line one document ----
inline constexpr char kDumpSchema[] = R"dump({
  "$schema": "https://json-schema.org/draft/2020-12/schema",
  "$id": "urn:jbbtool:dump:1",
  "title": "jbbtool.dump/1",
  "description": "jbbtool dump --json: JSON lines, the head line first, then one entry line per entry in key order.  This schema validates each line: the head (the line with a schema member) or an entry.",
  "if": {"type": "object", "required": ["schema"]},
  "then": {"$ref": "#/$defs/head"},
  "else": {"$ref": "#/$defs/entry"},
  "$defs": {
    "head": {
      "type": "object",
      "required": ["schema", "dataLength", "appArea"],
      "properties": {
        "schema": {"const": "jbbtool.dump/1"},
        "dataLength": {"type": "integer", "minimum": 0, "maximum": 65535,
                       "description": "Bytes of the data record under every key."},
        "appArea": {
          "description": "The journal control area's bytes up to its last non-zero one, as hexadecimal, null when salvage found no sound control record.",
          "anyOf": [{"type": "null"},
                    {"type": "string", "maxLength": 4096,
                     "pattern": "^(([0-9a-f]{2})*([0-9a-f][1-9a-f]|[1-9a-f][0-9a-f]))?$"}]
        }
      }
    },
    "entry": {
      "type": "object",
      "required": ["key", "action", "objectType", "inserted", "objectTime", "record"],
      "properties": {
        "key": {"type": "string"},
        "action": {"type": "integer", "minimum": 0, "maximum": 4294967295,
                   "description": "1 rename-old, 2 rename-new, 3 delete, 4 create, 5 change-attribute, 6 modify, 11 delete-restore, other values as found."},
        "objectType": {"type": "integer", "minimum": 0, "maximum": 4294967295,
                       "description": "1 a file, anything else a directory."},
        "inserted": {"$ref": "#/$defs/time", "description": "When the entry was put into the journal."},
        "objectTime": {"$ref": "#/$defs/time", "description": "The object's own time stamp."},
        "record": {"type": "string", "maxLength": 131070, "pattern": "^([0-9a-f]{2})*$",
                   "description": "The whole data record as hexadecimal (dataLength bytes); the members above read it, a record shorter than 32 bytes as if zeros followed it."}
      }
    },
    "time": {"type": "integer", "minimum": -9223372036854775808, "maximum": 9223372036854775807,
             "description": "Seconds since 1970 UTC."}
  }
})dump";

// ---- jbbtool diff --json: JSON lines, each line one document ----
inline constexpr char kDiffSchema[] = R"diff({
  "$schema": "https://json-schema.org/draft/2020-12/schema",
  "$id": "urn:jbbtool:diff:1",
  "title": "jbbtool.diff/1",
  "description": "jbbtool diff --json A B: JSON lines, one per difference in key order, then the summary line.  This schema validates each line: the summary (the line with a schema member) or a difference.",
  "if": {"type": "object", "required": ["schema"]},
  "then": {"$ref": "#/$defs/summary"},
  "else": {"$ref": "#/$defs/difference"},
  "$defs": {
    "difference": {
      "type": "object",
      "required": ["change", "key"],
      "properties": {
        "change": {
          "oneOf": [
            {"const": "only-a", "description": "The key is in A only."},
            {"const": "only-b", "description": "The key is in B only."},
            {"const": "differ", "description": "Both hold the key, with different records."}
          ]
        },
        "key": {"type": "string"},
        "a": {"$ref": "#/$defs/record", "description": "A's record (differ lines)."},
        "b": {"$ref": "#/$defs/record", "description": "B's record (differ lines)."}
      },
      "if": {"properties": {"change": {"const": "differ"}}},
      "then": {"required": ["a", "b"]}
    },
    "record": {
      "description": "A record's fields, read as dump reads them (a record shorter than 32 bytes as if zeros followed it).",
      "type": "object",
      "required": ["action", "actionName", "objectType", "objectTypeName", "inserted", "insertedUtc", "objectTime",
                   "objectTimeUtc"],
      "properties": {
        "action": {"$ref": "#/$defs/u32"},
        "actionName": {"anyOf": [{"type": "null"}, {"type": "string"}],
                       "description": "rename-old, rename-new, delete, create, change-attribute, modify, delete-restore; null for another code."},
        "objectType": {"$ref": "#/$defs/u32"},
        "objectTypeName": {"enum": ["file", "directory", null], "description": "1 file, 2 directory, null for another code."},
        "inserted": {"$ref": "#/$defs/i64", "description": "Seconds since 1970 UTC."},
        "insertedUtc": {"type": "string"},
        "objectTime": {"$ref": "#/$defs/i64", "description": "Seconds since 1970 UTC."},
        "objectTimeUtc": {"type": "string"},
        "lastBytes": {"type": "string", "pattern": "^([0-9a-f]{2})*$",
                      "description": "The bytes after the fields (the last 8 of a 32-byte record) as hexadecimal; present on both sides when they differ."}
      }
    },
    "u32": {"type": "integer", "minimum": 0, "maximum": 4294967295},
    "i64": {"type": "integer", "minimum": -9223372036854775808, "maximum": 9223372036854775807},
    "summary": {
      "type": "object",
      "required": ["schema", "entriesA", "entriesB", "onlyA", "onlyB", "differ"],
      "properties": {
        "schema": {"const": "jbbtool.diff/1"},
        "entriesA": {"$ref": "#/$defs/count"},
        "entriesB": {"$ref": "#/$defs/count"},
        "onlyA": {"$ref": "#/$defs/count"},
        "onlyB": {"$ref": "#/$defs/count"},
        "differ": {"$ref": "#/$defs/count"}
      }
    },
    "count": {"type": "integer", "minimum": 0, "maximum": 18446744073709551615}
  }
})diff";

// ---- jbbtool info --json: one document ----
inline constexpr char kInfoSchema[] = R"info({
  "$schema": "https://json-schema.org/draft/2020-12/schema",
  "$id": "urn:jbbtool:info:1",
  "title": "jbbtool.info/1",
  "description": "jbbtool info --json: the header of one journal from its control record alone (one such document per line, a line per journal; a file that is no journal database gets none).",
  "type": "object",
  "required": ["schema", "file", "fileSize", "control", "journal", "implausible"],
  "properties": {
    "schema": {"const": "jbbtool.info/1"},
    "file": {"type": "string", "description": "The path as given."},
    "fileSize": {"type": "integer", "minimum": 2088, "maximum": 9223372036854775807, "description": "Bytes."},
    "control": {
      "description": "The control record's fields as the record holds them (as in jbbtool.check/2), and its padding.",
      "type": "object",
      "required": ["magic", "versionMajor", "versionMinor", "state", "stateName", "rootOffset", "indexArraySize",
                   "currentIXCount", "lastIndex", "lastNDRec", "dbKeyLen", "dbDataLen", "padding"],
      "properties": {
        "magic": {"const": "0xABCD", "description": "info reports only on journal databases."},
        "versionMajor": {"const": 2},
        "versionMinor": {"const": 2},
        "state": {"$ref": "#/$defs/u32", "description": "0 dbClosed, 1 dbOpened, 2 dbCorrupt."},
        "stateName": {"enum": ["dbClosed", "dbOpened", "dbCorrupt", null],
                      "description": "The state's name, null for an unknown state."},
        "rootOffset": {"$ref": "#/$defs/u32", "description": "Subscript of the root node."},
        "indexArraySize": {"$ref": "#/$defs/u32"},
        "currentIXCount": {"$ref": "#/$defs/u32"},
        "lastIndex": {"$ref": "#/$defs/u32"},
        "lastNDRec": {"type": "integer", "minimum": -9223372036854775808, "maximum": 9223372036854775807},
        "dbKeyLen": {"$ref": "#/$defs/u16"},
        "dbDataLen": {"$ref": "#/$defs/u16"},
        "padding": {"$ref": "#/$defs/hex4", "description": "The record's last 4 bytes."}
      }
    },
    "journal": {
      "description": "The journal control area's fields.",
      "type": "object",
      "required": ["type", "typeName", "fileSystem", "server", "node", "serverNameLength", "activation",
                   "activationUtc", "validation", "validationUtc", "state", "stateName", "maxSize", "padding1",
                   "padding2"],
      "properties": {
        "type": {"$ref": "#/$defs/u32"},
        "typeName": {"enum": ["unformatted", "change", "incremental", null],
                     "description": "0 unformatted, 1 change, 2 incremental (needed); null for another type."},
        "fileSystem": {"type": "string", "description": "Up to its 0 unit (or the end of the area)."},
        "server": {"type": "string",
                   "description": "The first serverNameLength bytes of server and node, up to their NUL; a byte that is not UTF-8 as its \\u00XX escape."},
        "node": {"type": "string", "description": "The bytes after the server's, up to the NUL."},
        "serverNameLength": {"type": "integer", "minimum": 0, "maximum": 255},
        "activation": {"$ref": "#/$defs/i64", "description": "Seconds since 1970 UTC."},
        "activationUtc": {"$ref": "#/$defs/utcText"},
        "validation": {"$ref": "#/$defs/i64", "description": "Seconds since 1970 UTC; meaningful in a valid change journal."},
        "validationUtc": {"$ref": "#/$defs/utcText"},
        "state": {"$ref": "#/$defs/u32"},
        "stateName": {"enum": ["valid", "in-progress", "not-valid"], "description": "2 valid, 1 in-progress, any other value not-valid."},
        "maxSize": {"type": "integer", "minimum": 0, "maximum": 18446744073709551615, "description": "Bytes; 0 unlimited."},
        "padding1": {"$ref": "#/$defs/hex4"},
        "padding2": {"$ref": "#/$defs/hex4"}
      }
    },
    "implausible": {
      "description": "The fields that no sound journal holds, in the order of the sections and their fields.",
      "type": "array",
      "items": {
        "type": "object",
        "required": ["field", "reason"],
        "properties": {
          "field": {"type": "string", "pattern": "^(control|journal)\\.[A-Za-z]+$",
                    "description": "The section and the field: the member's name, or version for the two version members."},
          "reason": {"type": "string", "minLength": 1}
        }
      }
    }
  },
  "$defs": {
    "i64": {"type": "integer", "minimum": -9223372036854775808, "maximum": 9223372036854775807},
    "u16": {"type": "integer", "minimum": 0, "maximum": 65535},
    "u32": {"type": "integer", "minimum": 0, "maximum": 4294967295},
    "hex4": {"type": "string", "pattern": "^[0-9a-f]{8}$"},
    "utcText": {"type": "string", "pattern": "^([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z|-?[0-9]+)$",
                "description": "YYYY-MM-DDTHH:MM:SSZ, else the decimal number of seconds."}
  }
})info";

// The schemas by the name `jbbtool schema` takes.
struct JsonSchemaText {
    const char* name;
    const char* text;
};
inline constexpr JsonSchemaText kJsonSchemas[] = {
    {"check", kCheckSchema}, {"stats", kStatsSchema}, {"dump", kDumpSchema},
    {"diff", kDiffSchema},   {"info", kInfoSchema},
};

}  // namespace jbbtool
