#pragma once

#include <assert.h>

/** An assertion as alsa-lib makes it: Debian builds the library with its
    assertions in, so a call that breaks one aborts the process with the C
    library's message. The stand-in's hold in every build of its own too. */
#define VIRTUAL_MIDI_ASSERT(expression) \
    ((expression) ? (void) 0 : __assert_fail (#expression, __FILE__, __LINE__, __func__))
