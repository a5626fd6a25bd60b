// Compiler-specific spellings the portable code needs, behind one name.
#pragma once

#if defined(_MSC_VER)
#include <intrin.h>
// The return address of the function in which the macro is written, that
// is the address in its caller. A macro, so that it is expanded in that
// function and not in a helper of its own.
#define QLR_RETURN_ADDRESS() _ReturnAddress()
#else
#define QLR_RETURN_ADDRESS() __builtin_return_address(0)
#endif
