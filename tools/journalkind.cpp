#include "journalkind.h"

#include "format.h"

bool startsLikeJournal(const std::string& head) {
    return head.size() >= ctrlOff::dbMagic + sizeof dbMagicNumber &&
           btformat::load16(reinterpret_cast<const uint8_t*>(head.data()) + ctrlOff::dbMagic) == dbMagicNumber;
}

const OutputKind kJournalKind = {"a journal database", startsLikeJournal, ctrlOff::dbMagic + sizeof dbMagicNumber};
