#include "device_acl.h"

/* ACL      revision 1 byte, Sbz1 1, AclSize 2, AceCount 2, Sbz2 2         little-endian
 * ACE      AceType 1, AceFlags 1, AceSize 2, Mask 4, then the SID
 * SID      Revision 1, SubAuthorityCount 1, IdentifierAuthority 6 (big-endian),
 *          SubAuthority 4 each (little-endian) */
#define ACL_REVISION_2 2
#define ACL_HEADER_SIZE 8
#define ACE_HEADER_SIZE 8
#define ACCESS_ALLOWED_ACE 0
#define SID_REVISION_1 1
#define NT_AUTHORITY 5

typedef struct TWellKnownSid {
    uint8_t count;
    uint32_t subAuthority[2];
} TWellKnownSid;

static const TWellKnownSid Grantees[] = {
    {1, {18, 0}},   /* S-1-5-18      LocalSystem */
    {2, {32, 544}}, /* S-1-5-32-544  BUILTIN\Administrators */
};

static void Put16(uint8_t* at, uint32_t value) {
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)(value >> 8);
}

static void Put32(uint8_t* at, uint32_t value) {
    Put16(at, value & 0xFFFFu);
    Put16(at + 2, value >> 16);
}

static uint32_t SidSize(const TWellKnownSid* sid) {
    return 8 + 4u * sid->count;
}

static uint32_t PutSid(uint8_t* at, const TWellKnownSid* sid) {
    uint32_t i;
    at[0] = SID_REVISION_1;
    at[1] = sid->count;
    for (i = 0; i < 5; i++)
        at[2 + i] = 0;
    at[7] = NT_AUTHORITY;
    for (i = 0; i < sid->count; i++)
        Put32(at + 8 + 4 * i, sid->subAuthority[i]);
    return SidSize(sid);
}

static uint32_t PutAce(uint8_t* at, const TWellKnownSid* sid) {
    uint32_t size = ACE_HEADER_SIZE + SidSize(sid);
    at[0] = ACCESS_ALLOWED_ACE;
    at[1] = 0; /* no inheritance flags: a device has no children */
    Put16(at + 2, size);
    Put32(at + 4, DEVICE_ACL_ACCESS);
    PutSid(at + ACE_HEADER_SIZE, sid);
    return size;
}

uint32_t BuildDeviceAcl(uint8_t* buffer, uint32_t size) {
    uint32_t count = sizeof(Grantees) / sizeof(Grantees[0]);
    uint32_t length = ACL_HEADER_SIZE, i;
    for (i = 0; i < count; i++)
        length += ACE_HEADER_SIZE + SidSize(&Grantees[i]);
    if (size < length)
        return 0;
    buffer[0] = ACL_REVISION_2;
    buffer[1] = 0;
    Put16(buffer + 2, length);
    Put16(buffer + 4, count);
    Put16(buffer + 6, 0);
    length = ACL_HEADER_SIZE;
    for (i = 0; i < count; i++)
        length += PutAce(buffer + length, &Grantees[i]);
    return length;
}
