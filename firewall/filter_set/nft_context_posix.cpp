#include "firewall/filter_set/nft_context_posix.h"

#include <nftables/libnftables.h>

#include <cerrno>
#include <cstring>

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

std::string first_line(const char* text) {
    if (text == nullptr) return {};
    const char* end = std::strchr(text, '\n');
    return end != nullptr ? std::string(text, end) : std::string(text);
}

// libnftables names a kernel refusal as "Could not process rule: <strerror text>"; errno is
// not reliable after the call. Any other message is a fault in the command itself.
uint32_t failure_code(const char* error_text) {
    constexpr const char* kKernelError = "Could not process rule: ";
    const char* found = error_text != nullptr ? std::strstr(error_text, kKernelError) : nullptr;
    if (found == nullptr) return EINVAL;
    const std::string reason = first_line(found + std::strlen(kKernelError));
    for (int code = 1; code < 200; ++code) {
        if (reason == std::strerror(code)) return static_cast<uint32_t>(code);
    }
    return EIO;
}

}  // namespace

NftContext::~NftContext() { nft_ctx_free(context_); }

std::unique_ptr<NftContext> NftContext::create(uint32_t& error) {
    errno = 0;
    nft_ctx* context = nft_ctx_new(NFT_CTX_DEFAULT);
    if (context == nullptr) {
        error = errno != 0 ? static_cast<uint32_t>(errno) : ENOMEM;
        log("nft_ctx_new failed with error: %d", static_cast<int>(error));
        return nullptr;
    }
    if (nft_ctx_buffer_output(context) != 0 || nft_ctx_buffer_error(context) != 0) {
        nft_ctx_free(context);
        error = ENOMEM;
        log("nft output buffers failed with error: %d", static_cast<int>(error));
        return nullptr;
    }
    nft_ctx_output_set_flags(context, NFT_CTX_OUTPUT_HANDLE);
    error = 0;
    return std::unique_ptr<NftContext>(new NftContext(context));
}

uint32_t NftContext::run(const std::string& commands, std::string* output) {
    const int result = nft_run_cmd_from_buffer(context_, commands.c_str());
    // Reading the buffers also resets them for the next command.
    const char* printed = nft_ctx_get_output_buffer(context_);
    const char* error_text = nft_ctx_get_error_buffer(context_);
    if (output != nullptr) output->assign(printed != nullptr ? printed : "");
    if (result == 0) return 0;

    const uint32_t code = failure_code(error_text);
    log("nft command failed with error: %d (%s): %s", static_cast<int>(code),
        first_line(error_text).c_str(), first_line(commands.c_str()).c_str());
    return code;
}

}  // namespace quietway
