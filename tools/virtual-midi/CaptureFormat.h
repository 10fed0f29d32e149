#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

//==============================================================================
/**
    The capture file the stand-in MIDI service writes and quillet-capture-check
    reads. All integers are little-endian.

    File header, 16 bytes:
        8 bytes  magic "VMIDICAP"
        uint32   format version (1)
        uint32   size of the file header in bytes (16)

    Then one record per received event, in arrival order:
        int64    monotonic clock (CLOCK_MONOTONIC, ns) when the send began
        int64    monotonic clock (ns) when the send returned
        uint32   length of the destination port's name in bytes
        uint32   number of message bytes
        ...      the port name (UTF-8, no terminator)
        ...      the message bytes, status byte included

    Each record is written with one write call as soon as its send returns, so a
    program that is killed leaves every finished record behind.
*/
namespace CaptureFormat
{
    constexpr char magic[8] = { 'V', 'M', 'I', 'D', 'I', 'C', 'A', 'P' };
    constexpr std::uint32_t version = 1;
    constexpr std::size_t fileHeaderSize = 16;
    constexpr std::size_t recordHeaderSize = 24;

    inline void appendLittleEndian (std::vector<std::uint8_t>& out, std::uint64_t value, int numBytes)
    {
        for (int i = 0; i < numBytes; ++i)
            out.push_back ((std::uint8_t) (value >> (8 * i)));
    }

    inline std::uint64_t readLittleEndian (const std::uint8_t* in, int numBytes)
    {
        std::uint64_t value = 0;

        for (int i = 0; i < numBytes; ++i)
            value |= (std::uint64_t) in[i] << (8 * i);

        return value;
    }

    inline void appendFileHeader (std::vector<std::uint8_t>& out)
    {
        out.insert (out.end(), magic, magic + sizeof (magic));
        appendLittleEndian (out, version, 4);
        appendLittleEndian (out, fileHeaderSize, 4);
    }

    inline void appendRecord (std::vector<std::uint8_t>& out, const std::string& portName,
                              const std::uint8_t* bytes, std::size_t numBytes,
                              std::int64_t startNs, std::int64_t endNs)
    {
        appendLittleEndian (out, (std::uint64_t) startNs, 8);
        appendLittleEndian (out, (std::uint64_t) endNs, 8);
        appendLittleEndian (out, portName.size(), 4);
        appendLittleEndian (out, numBytes, 4);
        out.insert (out.end(), portName.begin(), portName.end());
        out.insert (out.end(), bytes, bytes + numBytes);
    }
}
