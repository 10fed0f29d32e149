#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

//==============================================================================
/**
    Builds the development firmware image: the exact message framing, kinds,
    order, lengths and info records the pedal's update mode expects, carrying
    pseudo-random firmware bytes from a fixed seed, so every build embeds the
    same stream.

    Layout: the start message; info records 1 to 5; 3,058 data blocks of 4,009
    bytes, each packing 3,500 firmware bytes as 500 groups of eight (the first
    byte of a group holds the top bits of the seven that follow); the end
    message. 3,065 messages, 12,259,620 bytes.
*/
class DevelopmentImageGenerator
{
public:
    /** Our SysEx manufacturer identifier, in bytes 1 to 3 of every message. */
    static constexpr std::array<std::uint8_t, 3> manufacturerId { { 0x00, 0x7f, 0x5a } };

    static constexpr std::uint8_t modelByte1 = 0x00;
    static constexpr std::uint8_t modelByte2 = 0x7a;

    static constexpr std::uint8_t commandStart = 0x51;
    static constexpr std::uint8_t commandData  = 0x52;
    static constexpr std::uint8_t commandInfo  = 0x53;

    static constexpr std::size_t headerSize          = 8;
    static constexpr std::size_t payloadSize         = 4000;
    static constexpr std::size_t dataBlockSize       = headerSize + payloadSize + 1;
    static constexpr std::size_t numDataBlocks       = 3058;
    static constexpr std::size_t firmwareBytesPerBlock = payloadSize / 8 * 7;

    /** Firmware bytes carried: they end inside the second-to-last block, which
        is zero-filled after them; the last block carries only zeros. */
    static constexpr std::size_t firmwareSize = 10'697'843;

    static constexpr std::size_t numMessages = 1 + 5 + numDataBlocks + 1;
    static constexpr std::size_t imageSize   = 9 + 5 * 16 + numDataBlocks * dataBlockSize + 9;

    static constexpr std::uint64_t seed = 0x5eed'2026'0001'0389ull;

    /** The value bytes of info records 1 to 5. */
    static constexpr std::array<std::array<std::uint8_t, 7>, 5> infoRecords { {
        { { 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 } },
        { { 0x7a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 } },
        { { 0x00, 0x00, 0x1f, 0x20, 0x00, 0x00, 0x00 } },
        { { 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x59 } },
        { { 0x00, 0x05, 0x0d, 0x10, 0x00, 0x00, 0x00 } },
    } };

    /** The firmware bytes before packing (firmwareSize of them). */
    static std::vector<std::uint8_t> makeFirmware();

    /** The whole SysEx stream. */
    static std::vector<std::uint8_t> makeImage();
};
