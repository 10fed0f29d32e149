#pragma once

#include <cstddef>
#include <cstdint>

//==============================================================================
/**
    The SysEx stream that the assembler pulls into the program's read-only
    data (see EmbeddedFirmwareStream.S.in). It is never copied: the upload sends
    each message straight from here.
*/
extern "C" const std::uint8_t quilletFirmwareStream[];
extern "C" const std::uint8_t quilletFirmwareStreamEnd[];

/** The SHA-256 of the stream in lower-case hex, recorded by the build. */
extern "C" const char quilletFirmwareStreamSha256[];

namespace EmbeddedFirmwareStream
{
    inline const std::uint8_t* data() noexcept   { return quilletFirmwareStream; }

    inline std::size_t size() noexcept
    {
        return static_cast<std::size_t> (quilletFirmwareStreamEnd - quilletFirmwareStream);
    }

    inline const char* sha256() noexcept   { return quilletFirmwareStreamSha256; }
}
