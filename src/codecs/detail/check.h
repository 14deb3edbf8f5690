// TALLOX_DCHECK(condition): aborts with the condition's text when an invariant the code states
// does not hold. Active where TALLOX_DCHECKS is 1 (the sanitizer and fuzz builds, whose
// RelWithDebInfo sets NDEBUG and so silences assert); elsewhere the condition is compiled out,
// never evaluated, and the code is the same as without the check.
#pragma once

#if defined(TALLOX_DCHECKS) && TALLOX_DCHECKS
#include <cstdio>
#include <cstdlib>

namespace tallox::detail {

[[noreturn]] inline void DcheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

}  // namespace tallox::detail

#define TALLOX_DCHECK(condition)                                                          \
    do {                                                                                  \
        if (!(condition)) ::tallox::detail::DcheckFailed(#condition, __FILE__, __LINE__); \
    } while (false)
#else
// sizeof keeps the names in the condition used without evaluating them.
#define TALLOX_DCHECK(condition) static_cast<void>(sizeof(!(condition)))
#endif
