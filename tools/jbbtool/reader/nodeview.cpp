#include "nodeview.h"

#include <cstring>

#include "keyorder.h"
#include "keyunits.h"

namespace jbbtool {

std::u16string NodeView::key(size_t k) const {
    std::u16string s(datums[k].keyUnits, u'\0');
    const uint8_t* p = image + datums[k].offset + datumKeyOffset;
    for (uint32_t i = 0; i < datums[k].keyUnits; ++i) s[i] = static_cast<char16_t>(keyunits::load1(p + 2 * i));
    return s;
}

size_t lowerBound(const NodeView& node, const uint8_t* key, size_t units, bool* equal) {
    *equal = false;
    for (size_t k = 0; k < node.datums.size(); ++k) {
        const DatumRef& d = node.datums[k];
        const int c = compareKeyUnits(node.image + d.offset + datumKeyOffset, d.keyUnits, key, units);
        if (c < 0) continue;
        *equal = c == 0;
        return k;
    }
    return node.datums.size();
}

namespace {

// The format's node decoder finds each key's end with the vector scan,
// which notes on the way whether the key holds a surrogate.
struct ScanKey {
    bool* surrogate;
    size_t operator()(const uint8_t* key, size_t room) const { return scanKeyUnits(key, room, surrogate); }
};

// What is wrong with datum `d` (at `off` in the image), in words.
std::string datumFault(btformat::Fault f, const uint8_t* d, uint16_t dataLen) {
    using btformat::Fault;
    switch (f) {
        case Fault::datumLength:
            return "datum length " + std::to_string(btformat::datumLength(d)) + " runs past the node's end";
        case Fault::datumDataOffset:
            return "data offset " + std::to_string(btformat::load16(d + datumOff::dataOffset)) +
                   " lies inside the datum header";
        case Fault::datumRecord:
            return "data record at " + std::to_string(btformat::datumDataStart(d)) + " (" + std::to_string(dataLen) +
                   " bytes) runs past the datum length " + std::to_string(btformat::datumLength(d));
        default:
            return btformat::faultText(f);
    }
}

}  // namespace

void parseNode(const uint8_t* image, uint32_t size, uint16_t dataLen, NodeView* out) {
    using btformat::Fault;
    out->image = image;
    out->datums.clear();
    out->fault.clear();
    if (size < nodeHeaderSize) {
        std::memset(&out->header, 0, sizeof out->header);
        out->fault = "node size " + std::to_string(size) + " is below the 72-byte header";
        return;
    }
    std::memcpy(&out->header, image, sizeof out->header);
    bool surrogate = false;
    const btformat::NodeCheck c = btformat::decodeNode(
        image, size, dataLen,
        [&](const btformat::DatumFacts& f) {
            out->datums.push_back({f.offset, f.keyUnits, f.dataPos, surrogate});
        },
        ScanKey{&surrogate});
    switch (c.fault) {
        case Fault::none:
            break;
        case Fault::nodeSize:
            out->fault = "node size " + std::to_string(size) + ": " + btformat::faultText(c.fault);
            break;
        case Fault::nodeCount:
            out->fault = "datum count " + std::to_string(out->header.count) + " is above 10";
            break;
        case Fault::nodeTrailing:
            out->fault = "datums end at " + std::to_string(c.offset) + ", node size is " + std::to_string(size);
            break;
        default:
            out->fault = "datum " + std::to_string(c.datum) + ": " + datumFault(c.fault, image + c.offset, dataLen);
            break;
    }
}

}  // namespace jbbtool
