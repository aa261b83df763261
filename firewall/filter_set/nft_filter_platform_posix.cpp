#include "firewall/filter_set/nft_filter_platform_posix.h"

#include <sys/random.h>

#include <cerrno>

#include "common/log/rotating_log.h"
#include "firewall/filter_set/nft_ruleset_posix.h"
#include "firewall/filter_set/nft_session_posix.h"
#include "firewall/filter_set/tun_adapters_posix.h"

namespace quietway {
namespace {

NftSession* session_of(EngineHandle engine) { return static_cast<NftSession*>(engine); }

}  // namespace

uint32_t NftFilterPlatform::find_vpn_adapters(std::vector<uint64_t>& luids) {
    return find_vpn_device(luids);
}

uint32_t NftFilterPlatform::open_engine(EngineHandle& engine) {
    std::unique_ptr<NftSession> session;
    const uint32_t status = NftSession::open(session, std::move(idle_context_));
    if (status != 0) return status;
    session->set_batch_tail(batch_tail_);
    engine = session.release();
    return 0;
}

uint32_t NftFilterPlatform::begin_transaction(EngineHandle engine) {
    if (engine == nullptr) return EINVAL;
    return session_of(engine)->begin();
}

uint32_t NftFilterPlatform::commit_transaction(EngineHandle engine) {
    if (engine == nullptr) return EINVAL;
    return session_of(engine)->commit();
}

uint32_t NftFilterPlatform::abort_transaction(EngineHandle engine) {
    if (engine == nullptr) return EINVAL;
    return session_of(engine)->abort();
}

uint32_t NftFilterPlatform::close_engine(EngineHandle engine) {
    if (engine == nullptr) return EINVAL;
    std::unique_ptr<NftSession> session(session_of(engine));
    // A context that still owns a table is freed: closing its socket is what drops the table.
    idle_context_ = session->release_idle_context();
    return 0;
}

bool NftFilterPlatform::create_sublayer_key(SublayerKey& key) {
    ssize_t got = 0;
    do {
        got = getrandom(key.bytes, sizeof key.bytes, 0);
    } while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof key.bytes)) {
        log("getrandom failed with error: %d", errno);
        return false;
    }
    // A random (version 4) UUID, like the keys made on Windows.
    key.bytes[6] = static_cast<uint8_t>((key.bytes[6] & 0x0F) | 0x40);
    key.bytes[8] = static_cast<uint8_t>((key.bytes[8] & 0x3F) | 0x80);
    return true;
}

uint32_t NftFilterPlatform::add_sublayer(EngineHandle engine, const SublayerRecord& sublayer) {
    if (engine == nullptr) return EINVAL;
    return session_of(engine)->add_table(sublayer);
}

uint32_t NftFilterPlatform::delete_sublayer(EngineHandle engine, const SublayerKey& key) {
    if (engine == nullptr) return EINVAL;
    return session_of(engine)->delete_table(key);
}

uint32_t NftFilterPlatform::add_filter(EngineHandle engine, const FilterRecord& filter,
                                       uint64_t& id) {
    uint32_t result = EINVAL;
    add_filters(engine, std::span<const FilterRecord>(&filter, 1), std::span<uint64_t>(&id, 1),
                std::span<uint32_t>(&result, 1));
    return result;
}

uint32_t NftFilterPlatform::delete_filter(EngineHandle engine, uint64_t id) {
    uint32_t result = EINVAL;
    delete_filters(engine, std::span<const uint64_t>(&id, 1), std::span<uint32_t>(&result, 1));
    return result;
}

void NftFilterPlatform::add_filters(EngineHandle engine, std::span<const FilterRecord> filters,
                                    std::span<uint64_t> ids, std::span<uint32_t> results) {
    if (engine == nullptr || ids.size() < filters.size() || results.size() < filters.size()) {
        for (size_t i = 0; i < results.size(); ++i) results[i] = EINVAL;
        return;
    }
    NftSession& session = *session_of(engine);
    // Addresses go into their sets with one command; rules one by one, in order.
    std::vector<FilterRecord> elements;
    std::vector<size_t> positions;
    for (size_t i = 0; i < filters.size(); ++i) {
        if (nft::is_set_element(filters[i])) {
            elements.push_back(filters[i]);
            positions.push_back(i);
        } else {
            ids[i] = 0;
            results[i] = session.add_rule(filters[i], ids[i]);
        }
    }
    if (elements.empty()) return;
    std::vector<uint64_t> element_ids(elements.size(), 0);
    std::vector<uint32_t> element_results(elements.size(), EINVAL);
    session.add_elements(elements, element_ids, element_results);
    for (size_t k = 0; k < positions.size(); ++k) {
        ids[positions[k]] = element_ids[k];
        results[positions[k]] = element_results[k];
    }
}

void NftFilterPlatform::delete_filters(EngineHandle engine, std::span<const uint64_t> ids,
                                       std::span<uint32_t> results) {
    if (engine == nullptr || results.size() < ids.size()) {
        for (size_t i = 0; i < results.size(); ++i) results[i] = EINVAL;
        return;
    }
    session_of(engine)->delete_filters(ids, results);
}

}  // namespace quietway
