#include "batch.h"

static TBatchVerdict CheckPair(uint8_t address, uint32_t foundPorts, int kind) {
    uint32_t port = LPT_ADDRESS_PORT(address);
    int isWrite = !PairReads(kind, address);
    uint32_t reg = kind == BatchMixed ? LPT_ADDRESS_REGISTER(address) : LPT_ADDRESS_OFFSET(address);
    if (port < 1 || port > LPT_PORT_COUNT || !(foundPorts & (1u << (port - 1))))
        return BatchNoSuchPort;
    if (reg >= LPT_REGISTER_SPAN)
        return BatchNoSuchRegister;
    if (isWrite && reg == LPT_REG_STATUS)
        return BatchReadOnly;
    return BatchOk;
}

TBatchVerdict CheckBatch(const uint8_t* pairs, uint32_t inLength, uint32_t outLength,
                         uint32_t foundPorts, int kind) {
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
        TBatchVerdict verdict = CheckPair(pairs[i], foundPorts, kind);
        if (verdict != BatchOk)
            return verdict;
    }
    return BatchOk;
}

uint8_t ControlRegisterValue(uint8_t kept, uint8_t requested) {
    return (uint8_t)((kept & ~LPT_CONTROL_LINES) | (requested & LPT_CONTROL_LINES));
}

static uint32_t FileRights(uint32_t access) {
    uint32_t rights = access & (OPEN_RIGHT_READ_DATA | OPEN_RIGHT_WRITE_DATA);
    if (access & (OPEN_RIGHT_GENERIC_READ | OPEN_RIGHT_GENERIC_ALL))
        rights |= OPEN_RIGHT_READ_DATA;
    if (access & (OPEN_RIGHT_GENERIC_WRITE | OPEN_RIGHT_GENERIC_ALL))
        rights |= OPEN_RIGHT_WRITE_DATA;
    return rights;
}

int OpenRightsSuffice(int hasContext, uint32_t desired, uint32_t granted) {
    const uint32_t needed = OPEN_RIGHT_READ_DATA | OPEN_RIGHT_WRITE_DATA;
    if (!hasContext)
        return 1;
    return (FileRights(desired) | FileRights(granted)) == needed;
}
