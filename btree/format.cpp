#include "format.h"

namespace btformat {

const char* faultText(Fault f) {
    switch (f) {
        case Fault::none:
            return "sound";
        case Fault::ctrlShort:
            return "the control record is cut short";
        case Fault::ctrlVersion:
            return "format version is not 2.2";
        case Fault::ctrlDataLength:
            return "data records of another length";
        case Fault::ctrlMagic:
            return "bad control record magic number";
        case Fault::ctrlStateCorrupt:
            return "the file is marked damaged (dbCorrupt)";
        case Fault::ctrlEmptyWithSlots:
            return "the counters say the tree is empty, but the file holds slots";
        case Fault::ctrlCounters:
            return "currentIXCount is above indexArraySize";
        case Fault::ctrlIndexArraySize:
            return "indexArraySize is larger than the file could use";
        case Fault::ctrlStateUnknown:
            return "unknown database state";
        case Fault::ctrlKeyLength:
            return "dbKeyLen is not 0 (variable-length keys)";
        case Fault::ctrlIndexArrayStep:
            return "indexArraySize is not a multiple of 500";
        case Fault::infoShort:
            return "fewer than 24 bytes for a node info block";
        case Fault::infoMagic:
            return "bad node magic number";
        case Fault::infoSubscript:
            return "slot names a subscript outside the index array";
        case Fault::infoSlotLength:
            return "slot length does not fit the file";
        case Fault::infoNodeSize:
            return "node size is not 72 to 655422 bytes";
        case Fault::infoNodeOverSlot:
            return "node is longer than its slot";
        case Fault::infoNodePastEnd:
            return "node reaches past the end of the file";
        case Fault::infoFreeHeader:
            return "free slot gives a node size that fits neither way";
        case Fault::infoState:
            return "slot state is neither 0 (node) nor 1 (free)";
        case Fault::infoSlotPastEnd:
            return "slot reaches past the end of the file";
        case Fault::nodeSize:
            return "node size does not fit (72 to 655422 bytes, as read)";
        case Fault::nodeCount:
            return "datum count is above 10";
        case Fault::datumHeader:
            return "datum header runs past the node's end";
        case Fault::datumLength:
            return "datum length runs past the node's end";
        case Fault::datumDataOffset:
            return "data offset lies inside the datum header";
        case Fault::datumRecord:
            return "data record runs past the datum length";
        case Fault::datumKey:
            return "key has no terminator before its data";
        case Fault::nodeTrailing:
            return "bytes after the last datum";
    }
    return "unknown fault";
}

}  // namespace btformat
