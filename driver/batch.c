#include "batch.h"

static TBatchVerdict CheckPair(uint8_t address, uint32_t foundPorts) {
    uint32_t port = address >> 4;
    if (port < 1 || port > LPT_PORT_COUNT || !(foundPorts & (1u << (port - 1))))
        return BatchNoSuchPort;
    if (BatchRegister(address) >= LPT_REGISTER_SPAN)
        return BatchNoSuchRegister;
    return BatchOk;
}

TBatchVerdict CheckBatch(const uint8_t* pairs, uint32_t inLength, uint32_t outLength,
                         uint32_t foundPorts) {
    uint32_t i;
    if (inLength & 1)
        return BatchOddLength;
    if (inLength == 0 || !pairs)
        return BatchEmpty;
    if (inLength / 2 > LPT_BATCH_MAX_PAIRS)
        return BatchTooLong;
    if (outLength < inLength)
        return BatchOutputShort;
    for (i = 0; i < inLength; i += 2) {
        TBatchVerdict verdict = CheckPair(pairs[i], foundPorts);
        if (verdict != BatchOk)
            return verdict;
    }
    return BatchOk;
}

uint8_t ControlRegisterValue(uint8_t current, uint8_t requested) {
    return (uint8_t)((current & ~LPT_CONTROL_LINES) | (requested & LPT_CONTROL_LINES));
}
