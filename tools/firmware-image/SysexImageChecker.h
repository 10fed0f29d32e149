#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

//==============================================================================
/**
    Checks that a byte stream is a gapless sequence of complete SysEx messages,
    as the updater sends it: it starts with 0xF0, every message ends at the next
    0xF7, no byte inside a message has its top bit set, nothing follows the last
    0xF7, and the length fits 32 bits (the upload counts bytes in 32 bits).
*/
class SysexImageChecker
{
public:
    struct Result
    {
        bool ok = true;
        std::uint64_t offset = 0;   ///< where the fault lies, when not ok
        std::string fault;          ///< what is wrong there, when not ok
        std::size_t numMessages = 0;
    };

    static Result check (const std::uint8_t* data, std::size_t size);

    /** Reads and checks a file; a file that cannot be read is a fault at offset 0. */
    static Result checkFile (const std::string& path);
};
