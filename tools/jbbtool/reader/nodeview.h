// The node decoder of jbbtool's reader: a node image as read from its slot,
// with its datums located and every length and offset checked against the
// image's size by the format's own decoder (btformat::decodeNode, as the
// engine checks a node), and what is wrong said in words.
//
// Contract:
// - A NodeView does not own its image: `image` points into a buffer of the
//   caller's (a read window, a walker's node buffer, a leaf handed over),
//   which must outlive every use of the view and of what key() and data()
//   return.  The view owns only its list of datums, whose room it keeps
//   when it is parsed into again.
// - parseNode() never reads outside the bytes it is given, whatever those
//   hold.
// - Plain data: a view is used by one thread at a time; decoding two images
//   on two threads needs two views.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format.h"

namespace jbbtool {

// One datum of a parsed node: where its key and data lie in the image.
struct DatumRef {
    uint32_t offset;    // of the datum within the node image
    uint32_t keyUnits;  // key length in code units, without the terminator
    uint32_t dataPos;   // of the data record within the node image
    bool surrogate;     // the key holds a surrogate unit (paired or not)
};

// A node image read from its slot, with its datums located.
struct NodeView {
    const uint8_t* image = nullptr;  // nodeSize bytes
    nodeHeader header{};
    std::vector<DatumRef> datums;
    // Empty when every field lies within bounds; else what is wrong, and
    // `datums` holds the sound datums before the fault.
    std::string fault;

    // Key k as a NUL-terminated string (copied: keys may lie at odd
    // offsets).
    std::u16string key(size_t k) const;
    const uint8_t* data(size_t k) const { return image + datums[k].dataPos; }
    bool isLeaf() const { return header.branch[0] == 0; }
};

// The first of the node's parsed datums whose key is not below the key of
// `units` UTF-16LE units at `key` (datums.size() when every key is below
// it): where a search goes on, by branch[k] unless *equal says the datum
// holds that very key.  Keys in key order (keyorder.h).
size_t lowerBound(const NodeView& node, const uint8_t* key, size_t units, bool* equal);

// Parses a node image of `size` bytes (its nodeSize field says so) whose
// datums carry `dataLen`-byte records.  Never reads outside the image.
void parseNode(const uint8_t* image, uint32_t size, uint16_t dataLen, NodeView* out);

}  // namespace jbbtool
