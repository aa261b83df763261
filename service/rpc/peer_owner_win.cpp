#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h first: windows.h alone pulls in the old socket header.
#include <windows.h>

#include <iphlpapi.h>
#include <wtsapi32.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/os/win_handle.h"
#include "service/rpc/peer_owner.h"

namespace quietway {
namespace {

constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;
constexpr ULONG kMaxTableBytes = 16 * 1024 * 1024;

// As on Linux, only connections whose socket is still open name their process.
bool owned_state(DWORD state) {
    return state == MIB_TCP_STATE_ESTAB || state == MIB_TCP_STATE_FIN_WAIT1 ||
           state == MIB_TCP_STATE_FIN_WAIT2 || state == MIB_TCP_STATE_CLOSE_WAIT ||
           state == MIB_TCP_STATE_CLOSING || state == MIB_TCP_STATE_LAST_ACK;
}

uint16_t port_of(DWORD port) { return ntohs(static_cast<u_short>(port)); }

// One family's table with each connection's process, grown until it fits.
bool read_table(ULONG family, std::vector<uint8_t>& table) {
    ULONG size = 16 * 1024;
    for (int attempt = 0; attempt < 4 && size <= kMaxTableBytes; ++attempt) {
        table.assign(size, 0);
        const DWORD result = GetExtendedTcpTable(table.data(), &size, FALSE, family,
                                                 TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
        if (result == NO_ERROR) return true;
        if (result != ERROR_INSUFFICIENT_BUFFER) return false;
        size += 4096;  // it may grow meanwhile
    }
    return false;
}

template <class Table, class Row>
bool add_rows(ULONG family, const TcpEndpoint& client, uint16_t server_port,
              std::vector<TcpConnection>& out, Row make_row) {
    std::vector<uint8_t> buffer;
    if (!read_table(family, buffer)) return false;
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (owned_state(table->table[i].dwState) &&
            !add_if_between(make_row(table->table[i]), client, server_port, out)) {
            return false;
        }
    }
    return true;
}

bool token_user(HANDLE token, std::vector<uint8_t>& buffer) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0 || size > 4096) return false;
    buffer.assign(size, 0);
    return GetTokenInformation(token, TokenUser, buffer.data(), size, &size) != FALSE;
}

PSID sid_of(std::vector<uint8_t>& token_user) {
    return reinterpret_cast<TOKEN_USER*>(token_user.data())->User.Sid;
}

// A member of the administrators as the system decides it: a limited token of an
// administrator is not.
bool is_administrator(HANDLE token) {
    WinHandle identification;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    BOOL member = FALSE;
    return DuplicateToken(token, SecurityIdentification, identification.receive()) &&
           CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
           CheckTokenMembership(identification.get(), administrators, &member) && member;
}

bool is_console_user(PSID user) {
    const DWORD session = WTSGetActiveConsoleSessionId();
    if (session == kNoConsoleSession) return false;
    WinHandle token;
    std::vector<uint8_t> console;
    return WTSQueryUserToken(session, token.receive()) && token_user(token.get(), console) &&
           EqualSid(user, sid_of(console));
}

}  // namespace

bool list_connections(const TcpEndpoint& client, uint16_t server_port,
                      std::vector<TcpConnection>& out) {
    out.clear();
    return add_rows<MIB_TCPTABLE_OWNER_PID>(
               AF_INET, client, server_port, out,
               [](const MIB_TCPROW_OWNER_PID& row) {
                   return TcpConnection{
                       make_endpoint(false, &row.dwLocalAddr, port_of(row.dwLocalPort)),
                       make_endpoint(false, &row.dwRemoteAddr, port_of(row.dwRemotePort)),
                       row.dwOwningPid};
               }) &&
           add_rows<MIB_TCP6TABLE_OWNER_PID>(
               AF_INET6, client, server_port, out, [](const MIB_TCP6ROW_OWNER_PID& row) {
                   return TcpConnection{
                       make_endpoint(true, row.ucLocalAddr, port_of(row.dwLocalPort)),
                       make_endpoint(true, row.ucRemoteAddr, port_of(row.dwRemotePort)),
                       row.dwOwningPid};
               });
}

bool owner_may_have_credential(uint32_t owner, std::string& who) {
    who = "process " + std::to_string(owner);
    WinHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner));
    WinHandle token;
    std::vector<uint8_t> user;
    if (!process.valid() ||
        !OpenProcessToken(process.get(), TOKEN_QUERY | TOKEN_DUPLICATE, token.receive()) ||
        !token_user(token.get(), user)) {
        return false;
    }
    return IsWellKnownSid(sid_of(user), WinLocalSystemSid) || is_administrator(token.get()) ||
           is_console_user(sid_of(user));
}

}  // namespace quietway
