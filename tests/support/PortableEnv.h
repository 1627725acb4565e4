// setenv and unsetenv for the tests that the Windows build runs too (the C runtime there has
// _putenv_s only; an empty value removes the variable).
#pragma once

#include <stdlib.h>

#if defined(_WIN32)
inline int setenv(const char* name, const char* value, int /*overwrite*/) {
    return _putenv_s(name, value);
}
inline int unsetenv(const char* name) {
    return _putenv_s(name, "");
}
#endif
