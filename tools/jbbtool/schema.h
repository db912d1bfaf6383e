// The JSON that jbbtool writes, documented once here.  Every document
// names its schema and version in "schema"; a version changes only when a
// member is removed or changes meaning (new members may be added).  Text
// is UTF-8; a key is a JSON string of its UTF-16 units, an unpaired
// surrogate written as its \uXXXX escape.  Integers are JSON numbers
// (64-bit values are exact in readers that keep integers whole).
//
// ---- jbbtool check --json: one document, "jbbtool.check/1" ----
// Members in this order:
//   "schema"          "jbbtool.check/1"
//   "file"            the path as given
//   "fileSize"        bytes
//   "sound"           true when there is no finding (notes do not count)
//   "markedOpen"      true when the control record says dbOpened
//   "control"         null for a file shorter than the control record, else
//                     {"magic","versionMajor","versionMinor","state",
//                      "rootOffset","indexArraySize","currentIXCount",
//                      "lastIndex","lastNDRec","dbKeyLen","dbDataLen"}
//                     as the record holds them (numbers)
//   "counts"          {"slots","usedSlots","freeSlots","reachableNodes",
//                      "entries","depth"}: what the pass met
//   "summary"         {CODE: number of findings, ...} for each class met,
//                     in the order of the code table below
//   "findings"        [{"code","subscript","offset","message"}, ...]:
//                     subscript of the node (null when none applies), file
//                     offset (null when none applies), a message for people;
//                     at most 1000 per class
//   "findingsOmitted" findings beyond those listed
//   "notes"           the same shape, for what is noteworthy but sound
//   "notesOmitted"    notes beyond those listed
//
// Finding codes (stable; the text output uses the same):
//   ctrl-short          the file is shorter than the 2088-byte control record
//   ctrl-magic          control record magic number is not 0xABCD
//   ctrl-version        format version is not 2.2
//   ctrl-state          the file is marked dbCorrupt, or the state is unknown
//   ctrl-field          a control-record field disagrees with the file
//                       (rootOffset, indexArraySize, currentIXCount,
//                       lastIndex, lastNDRec, dbKeyLen)
//   bad-magic           a slot's info block has a bad magic number
//   slot-gap            bytes between slots that hold no slot
//   slot-overlap        a slot reaches into the next one (its length, or
//                       its node's size, is too large)
//   slot-past-end       the last slot reaches past the end of the file
//   slot-state          a slot state other than 0 (node) or 1 (free)
//   bad-subscript       a slot names subscript 0 or one not below
//                       currentIXCount
//   duplicate-subscript two slots name the same subscript
//   free-slot-header    a free slot's info block is inconsistent
//   datum-bounds        a node's size, datum count or a datum's fields lie
//                       out of bounds
//   key-order           keys not ascending within a node
//   key-order-across    keys not ascending across nodes
//   bad-branch          an inner node's branch names no node
//   node-unreachable    a node the root does not reach
//   node-reached-twice  a node reached by two branches
//   node-cycle          a node reached from itself
//   node-fill           a node other than the root outside 5 to 10 datums
//                       (or an inner root without datums)
//   leaf-depth          a leaf at another depth than most leaves
// Note codes:
//   key-unpaired-surrogate  a key holding an unpaired surrogate (a legal
//                           Windows file name)
//
// ---- jbbtool stats --json: one document, "jbbtool.stats/1" ----
//   "schema", "fileSize", "control" (as in check), "slots", "nodes",
//   "freeSlots", "freeBytes", "nodeBytes" (bytes of node images),
//   "nodeSlotBytes" (bytes of the slots holding them; the difference is
//   slack), "damaged" (slots or nodes the pass could not use), "entries",
//   "depth", "levels" ([{"nodes", "byDatums": [count of nodes with 0..10
//   datums]}] from the root down), "keyLengths" ([{"units": "LO-HI",
//   "entries"}]), "actions" ({ACTION CODE: entries}), "objectTypes"
//   ({"file", "directory"}), "inserted" and "objectTime" ({"oldest",
//   "newest"}: seconds since 1970 UTC, null without entries),
//   "directories" (distinct directory names), "topDirectories" ([{"name",
//   "entries"}], at most 20, most entries first).
//
// ---- jbbtool dump --json: JSON lines, "jbbtool.dump/1" ----
//   first line: {"schema":"jbbtool.dump/1","dataLength":N,"appArea":HEX}
//     appArea: the journal control area's bytes up to its last non-zero
//     one, as hexadecimal; null when salvage found no sound control record
//   then one line per entry, in key order:
//     {"key","action","objectType","inserted","objectTime","record"}
//     record: the whole data record as hexadecimal
//
// ---- jbbtool diff --json: JSON lines, "jbbtool.diff/1" ----
//   one line per difference: {"change": "only-a"|"only-b"|"differ","key"}
//   then {"schema":"jbbtool.diff/1","entriesA","entriesB","onlyA","onlyB",
//         "differ"}
#pragma once
