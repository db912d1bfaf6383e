#include "nodeview.h"

#include <cstring>

#include "keyunits.h"

namespace jbbtool {

std::u16string NodeView::key(size_t k) const {
    std::u16string s(datums[k].keyUnits, u'\0');
    const uint8_t* p = image + datums[k].offset + datumKeyOffset;
    for (uint32_t i = 0; i < datums[k].keyUnits; ++i) s[i] = static_cast<char16_t>(keyunits::load1(p + 2 * i));
    return s;
}

std::string parseDatum(const uint8_t* d, size_t n, uint16_t dataLen, DatumRef* out, uint32_t base) {
    if (n < 4) return "datum header runs past the node's end";
    uint32_t nkl = keyunits::load1(d);
    uint32_t dataStart = 2u + keyunits::load1(d + 2);
    if (nkl > n) return "datum length " + std::to_string(nkl) + " runs past the node's end";
    if (dataStart < datumKeyOffset + 2) return "data offset " + std::to_string(dataStart - 2) + " lies inside the datum header";
    if (dataStart + dataLen > nkl)
        return "data record at " + std::to_string(dataStart) + " (" + std::to_string(dataLen) +
               " bytes) runs past the datum length " + std::to_string(nkl);
    const size_t room = (dataStart - datumKeyOffset) / 2;
    bool surrogate;
    const size_t units = scanKeyUnits(d + datumKeyOffset, room, &surrogate);
    if (units == room) return "key has no terminator before its data";
    out->offset = base;
    out->keyUnits = (uint32_t)units;
    out->surrogate = surrogate;
    out->dataPos = base + dataStart;
    return std::string();
}

void parseNode(const uint8_t* image, uint32_t size, uint16_t dataLen, NodeView* out) {
    out->image = image;
    out->datums.clear();
    out->fault.clear();
    if (size < nodeHeaderSize) {
        std::memset(&out->header, 0, sizeof out->header);
        out->fault = "node size " + std::to_string(size) + " is below the 72-byte header";
        return;
    }
    std::memcpy(&out->header, image, sizeof out->header);
    unsigned count = out->header.count;
    if (count > (unsigned)maxDatumsPerNode) {
        out->fault = "datum count " + std::to_string(count) + " is above 10";
        count = maxDatumsPerNode;
    }
    uint32_t off = nodeHeaderSize;
    for (unsigned i = 0; i < count; ++i) {
        DatumRef r;
        std::string why = parseDatum(image + off, size - off, dataLen, &r, off);
        if (!why.empty()) {
            out->fault = "datum " + std::to_string(i) + ": " + why;
            return;
        }
        out->datums.push_back(r);
        off += keyunits::load1(image + off);
    }
    if (out->fault.empty() && off != size)
        out->fault = "datums end at " + std::to_string(off) + ", node size is " + std::to_string(size);
}

}  // namespace jbbtool
