#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

//==============================================================================
/**
    Reads a capture file of the stand-in MIDI service (format in
    tools/virtual-midi/CaptureFormat.h).
*/
class CaptureReader
{
public:
    struct Record
    {
        std::string port;
        std::vector<std::uint8_t> bytes;
        std::int64_t startNs = 0;
        std::int64_t endNs = 0;
    };

    struct Result
    {
        bool readable = false;      ///< false: not a capture file at all (see fault)
        bool complete = false;      ///< false: the file ends inside a record (see fault)
        std::string fault;
        std::vector<Record> records;    ///< every whole record, in file order
    };

    static Result read (const std::uint8_t* data, std::size_t size);
    static Result readFile (const std::string& path);
};
