// JBB_PRINTF_LIKE(f, a): the function's argument f is a printf format and
// its arguments begin at a (0 for a va_list), so the compiler checks each
// call.  gnu_printf makes mingw-w64's gcc check the C99 formats the
// run-time is given, which clang knows as plain printf.
#pragma once

#if defined(__clang__)
#define JBB_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define JBB_PRINTF_LIKE(f, a) __attribute__((format(gnu_printf, f, a)))
#endif
