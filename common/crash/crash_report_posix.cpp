#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/ucontext.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "common/crash/crash_report_posix.h"
#include "common/os/file_io_posix.h"

namespace quietway::crash_report {
namespace {

constexpr int kMaxFrames = 64;

unsigned text_length(const char* text) {
    unsigned n = 0;
    while (text[n] != '\0') ++n;
    return n;
}

// Buffered text output without allocation, safe in a signal handler.
class ReportWriter {
public:
    explicit ReportWriter(int fd) : fd_(fd) {}
    ~ReportWriter() { flush(); }
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    ReportWriter& text(const char* s) {
        while (*s != '\0') put(*s++);
        return *this;
    }
    ReportWriter& dec(long long value) {
        char digits[24];
        int n = 0;
        unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) put('-');
        while (n > 0) put(digits[--n]);
        return *this;
    }
    ReportWriter& hex(uint64_t value) {
        static const char kDigits[] = "0123456789abcdef";
        text("0x");
        for (int shift = 60; shift >= 0; shift -= 4) put(kDigits[(value >> shift) & 0xf]);
        return *this;
    }
    void flush() {
        write_all(fd_, buffer_, used_);
        used_ = 0;
    }

private:
    void put(char c) {
        if (used_ == sizeof(buffer_)) flush();
        buffer_[used_++] = c;
    }

    int fd_;
    char buffer_[512];
    size_t used_ = 0;
};

const char* signal_name(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        case SIGTRAP:
            return "SIGTRAP";
        case SIGSYS:
            return "SIGSYS";
        default:
            return "signal";
    }
}

struct RegisterName {
    const char* name;
    int index;
};

#if defined(__x86_64__)
constexpr RegisterName kRegisters[] = {
    {"rip", REG_RIP}, {"rsp", REG_RSP}, {"rbp", REG_RBP},   {"rax", REG_RAX}, {"rbx", REG_RBX},
    {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI},   {"rdi", REG_RDI}, {"r8", REG_R8},
    {"r9", REG_R9},   {"r10", REG_R10}, {"r11", REG_R11},   {"r12", REG_R12}, {"r13", REG_R13},
    {"r14", REG_R14}, {"r15", REG_R15}, {"eflags", REG_EFL}};

void write_registers(ReportWriter& out, const ucontext_t& context) {
    for (const RegisterName& reg : kRegisters) {
        out.text(reg.name).text(" ").hex(
            static_cast<uint64_t>(context.uc_mcontext.gregs[reg.index]));
        out.text("\n");
    }
}
#elif defined(__aarch64__)
void write_registers(ReportWriter& out, const ucontext_t& context) {
    for (int i = 0; i < 31; ++i)
        out.text("x").dec(i).text(" ").hex(context.uc_mcontext.regs[i]).text("\n");
    out.text("sp ").hex(context.uc_mcontext.sp).text("\n");
    out.text("pc ").hex(context.uc_mcontext.pc).text("\n");
    out.text("pstate ").hex(context.uc_mcontext.pstate).text("\n");
}
#else
void write_registers(ReportWriter& out, const ucontext_t&) { out.text("(not recorded)\n"); }
#endif

void copy_file_into(ReportWriter& out, int fd, const char* path) {
    out.flush();
    const int source = ::open(path, O_RDONLY | O_CLOEXEC);
    if (source < 0) return;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(source, buffer, sizeof(buffer))) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) write_all(fd, buffer, static_cast<size_t>(n));
    }
    ::close(source);
}

}  // namespace

bool append_text(char* dest, unsigned size, const char* text) {
    unsigned used = text_length(dest);
    const unsigned extra = text_length(text);
    if (used + extra + 1 > size) return false;
    for (unsigned i = 0; i <= extra; ++i) dest[used + i] = text[i];
    return true;
}

void make_dump_id(char (&id)[kDumpIdSize]) {
    unsigned char bytes[16] = {};
    if (::syscall(SYS_getrandom, bytes, sizeof(bytes), 0x1 /* GRND_NONBLOCK */) != sizeof(bytes)) {
        // No entropy yet: time and process still make the name unique enough for one crash.
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const uint64_t mix[2] = {
            static_cast<uint64_t>(now.tv_sec) ^ (static_cast<uint64_t>(::getpid()) << 32),
            static_cast<uint64_t>(now.tv_nsec)};
        for (int i = 0; i < 16; ++i)
            bytes[i] = static_cast<unsigned char>(mix[i / 8] >> ((i % 8) * 8));
    }
    static const char kDigits[] = "0123456789abcdef";
    unsigned pos = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) id[pos++] = '-';
        id[pos++] = kDigits[bytes[i] >> 4];
        id[pos++] = kDigits[bytes[i] & 0xf];
    }
    id[pos] = '\0';
}

void write_crash_report(int fd, const CrashSetup& setup, int sig, const siginfo_t* info,
                        const void* context) {
    ReportWriter out(fd);
    out.text("Quietway crash report\n");
    out.text("product: ").text(setup.product).text("\n");
    out.text("version: ").text(setup.version).text("\n");
    out.text("pid: ").dec(::getpid()).text("\n");
    out.text("thread: ").dec(::syscall(SYS_gettid)).text("\n");
    out.text("signal: ").dec(sig).text(" (").text(signal_name(sig)).text(")\n");
    if (info != nullptr) {
        out.text("code: ").dec(info->si_code).text("\n");
        out.text("fault address: ").hex(reinterpret_cast<uintptr_t>(info->si_addr)).text("\n");
    }
    out.text("registers:\n");
    if (context != nullptr) write_registers(out, *static_cast<const ucontext_t*>(context));
    out.text("backtrace:\n");
    out.flush();
    void* frames[kMaxFrames];
    const int count = ::backtrace(frames, kMaxFrames);
    ::backtrace_symbols_fd(frames, count, fd);
    out.text("modules:\n");
    copy_file_into(out, fd, "/proc/self/maps");
}

}  // namespace quietway::crash_report
