#pragma once

#include <cstddef>
#include <cstdint>

namespace quietway {

// The fixed record both sides of the control channel exchange.
inline constexpr int32_t kPipeId = 1935;
inline constexpr size_t kPipeRecordSize = 24;
// The request kind that asks for a reply; any other kind is carried out without one.
inline constexpr uint16_t kPipeWantsReply = 1;

struct PipeRecord {
    int32_t id;
    uint16_t kind;  // kPipeWantsReply or not
    uint16_t unused1;
    int32_t command;
    uint32_t unused2;
    int32_t result;
    uint32_t unused3;
};
static_assert(sizeof(PipeRecord) == kPipeRecordSize);
static_assert(offsetof(PipeRecord, id) == 0);
static_assert(offsetof(PipeRecord, kind) == 4);
static_assert(offsetof(PipeRecord, unused1) == 6);
static_assert(offsetof(PipeRecord, command) == 8);
static_assert(offsetof(PipeRecord, unused2) == 12);
static_assert(offsetof(PipeRecord, result) == 16);
static_assert(offsetof(PipeRecord, unused3) == 20);

// Byte order on the wire is little-endian whatever the host's.
void encode_record(const PipeRecord& record, uint8_t (&bytes)[kPipeRecordSize]);
PipeRecord decode_record(const uint8_t (&bytes)[kPipeRecordSize]);

PipeRecord make_request(int32_t command, bool want_reply);
PipeRecord make_reply(int32_t result);

}  // namespace quietway
