// The compile-time check of log calls: each row is evaluated by the compiler, so a wrong
// answer fails the build of this file.
#include <cstdint>

#include "common/log/log_format.h"

namespace quietway::log_format {
namespace {

enum Plain { plain_value };
enum class Scoped { value };

// Accepted: the Windows dialect's 64-bit length, widths, precision and stars, %% and the
// promotions of small integers.
static_assert(matches<long long>("ID=%I64d\r\n"));
static_assert(matches<uint64_t>("%I64u"));
static_assert(matches<int, unsigned, const char*>("%d %X %s"));
static_assert(matches<char, bool, short, Plain>("%c %d %d %d"));
static_assert(matches<long>("%ld"));
static_assert(matches<size_t>("%zu"));
static_assert(matches<int, const char*>("%-*s|"));
static_assert(matches<double, float>("%5.2f %g"));
static_assert(matches<void*, const wchar_t*>("%p %ls"));
static_assert(matches<>("100%% done"));

// Refused: a missing or extra argument, a size that differs from the conversion's, a text for a
// number and the other way round, a scoped enum, and %n.
static_assert(!matches<>("%s"));
static_assert(!matches<int, int>("%d"));
static_assert(!matches<long long>("%d"));
static_assert(!matches<int>("%I64d"));
static_assert(sizeof(long) == sizeof(int) || !matches<int>("%ld"));
static_assert(!matches<int>("%s"));
static_assert(!matches<const char*>("%d"));
static_assert(!matches<const wchar_t*>("%s"));
static_assert(!matches<Scoped>("%d"));
static_assert(!matches<int*>("%n"));
static_assert(!matches<long long, const char*>("%*s"));
static_assert(!matches<int>("%q"));

}  // namespace
}  // namespace quietway::log_format
