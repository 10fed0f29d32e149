#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>

/** An assertion as alsa-lib makes it: Debian builds the library with its
    assertions in, so a call that breaks one aborts the process with the C
    library's message. The stand-in's hold in every build of its own too,
    whatever NDEBUG says, and print the same message. */
#define VIRTUAL_MIDI_ASSERT(expression) \
    ((expression) ? (void) 0 : virtualMidiAssertionFailed (#expression, __FILE__, __LINE__, __func__))

[[noreturn]] inline void virtualMidiAssertionFailed (const char* expression, const char* file, unsigned int line, const char* function)
{
    std::fprintf (stderr, "%s: %s:%u: %s: Assertion `%s' failed.\n", program_invocation_short_name, file, line, function, expression);
    std::abort();
}
