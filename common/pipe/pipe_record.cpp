#include "common/pipe/pipe_record.h"

namespace quietway {
namespace {

void put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
void put16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}
uint32_t get32(const uint8_t* at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
    return value;
}
uint16_t get16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

}  // namespace

void encode_record(const PipeRecord& record, uint8_t (&bytes)[kPipeRecordSize]) {
    put32(bytes + offsetof(PipeRecord, id), static_cast<uint32_t>(record.id));
    put16(bytes + offsetof(PipeRecord, kind), record.kind);
    put16(bytes + offsetof(PipeRecord, unused1), record.unused1);
    put32(bytes + offsetof(PipeRecord, command), static_cast<uint32_t>(record.command));
    put32(bytes + offsetof(PipeRecord, unused2), record.unused2);
    put32(bytes + offsetof(PipeRecord, result), static_cast<uint32_t>(record.result));
    put32(bytes + offsetof(PipeRecord, unused3), record.unused3);
}

PipeRecord decode_record(const uint8_t (&bytes)[kPipeRecordSize]) {
    PipeRecord record{};
    record.id = static_cast<int32_t>(get32(bytes + offsetof(PipeRecord, id)));
    record.kind = get16(bytes + offsetof(PipeRecord, kind));
    record.unused1 = get16(bytes + offsetof(PipeRecord, unused1));
    record.command = static_cast<int32_t>(get32(bytes + offsetof(PipeRecord, command)));
    record.unused2 = get32(bytes + offsetof(PipeRecord, unused2));
    record.result = static_cast<int32_t>(get32(bytes + offsetof(PipeRecord, result)));
    record.unused3 = get32(bytes + offsetof(PipeRecord, unused3));
    return record;
}

PipeRecord make_request(int32_t command, bool want_reply) {
    PipeRecord record{};
    record.id = kPipeId;
    record.kind = want_reply ? kPipeWantsReply : 0;
    record.command = command;
    return record;
}

PipeRecord make_reply(int32_t result) {
    PipeRecord record{};
    record.id = kPipeId;
    record.result = result;
    return record;
}

}  // namespace quietway
