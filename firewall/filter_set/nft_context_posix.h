#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct nft_ctx;

namespace quietway {

// One libnftables context with its netlink socket. Tables created through it with the
// `owner` flag belong to this socket: the kernel removes them when the context is freed or
// the process ends, however it ends.
class NftContext {
public:
    NftContext(const NftContext&) = delete;
    NftContext& operator=(const NftContext&) = delete;
    ~NftContext();

    // Null when the context cannot be created; `error` then holds errno.
    static std::unique_ptr<NftContext> create(uint32_t& error);

    // Runs nft commands as one transaction. `output` receives what the commands print (a
    // listing, as text with handles). Returns 0 or an errno value; failures are logged.
    uint32_t run(const std::string& commands, std::string* output = nullptr);

private:
    explicit NftContext(nft_ctx* context) : context_(context) {}
    nft_ctx* context_;
};

}  // namespace quietway
