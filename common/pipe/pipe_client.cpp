#include "common/pipe/pipe_client.h"

#include "common/pipe/pipe_record.h"

namespace quietway {

PipeClient::PipeClient() : channel_(make_pipe_client_channel()) {}
PipeClient::~PipeClient() = default;

bool PipeClient::send_command(int command, int& status) {
    std::lock_guard guard(mutex_);
    if (!channel_->connected() && !channel_->connect()) return false;
    uint8_t request[kPipeRecordSize];
    encode_record(make_request(command, true), request);
    uint8_t reply[kPipeRecordSize];
    if (!channel_->write_all(request, kPipeRecordSize) ||
        !channel_->read_exact(reply, kPipeRecordSize)) {
        // A half-done exchange leaves the stream out of step: start afresh next time.
        channel_->close();
        return false;
    }
    status = decode_record(reply).result;
    return true;
}

}  // namespace quietway
