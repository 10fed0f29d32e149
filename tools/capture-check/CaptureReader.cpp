#include "CaptureReader.h"
#include "CaptureFormat.h"

#include <cstring>
#include <fstream>
#include <iterator>

CaptureReader::Result CaptureReader::read (const std::uint8_t* data, std::size_t size)
{
    Result result;

    if (size < CaptureFormat::fileHeaderSize || std::memcmp (data, CaptureFormat::magic, sizeof (CaptureFormat::magic)) != 0)
    {
        result.fault = "not a capture file (no VMIDICAP header)";
        return result;
    }

    const auto version = CaptureFormat::readLittleEndian (data + 8, 4);
    const auto headerSize = CaptureFormat::readLittleEndian (data + 12, 4);

    if (version != CaptureFormat::version || headerSize < CaptureFormat::fileHeaderSize || headerSize > size)
    {
        result.fault = "unsupported capture format version " + std::to_string (version);
        return result;
    }

    result.readable = true;
    std::size_t offset = (std::size_t) headerSize;

    while (offset < size)
    {
        const auto remaining = size - offset;

        if (remaining < CaptureFormat::recordHeaderSize)
            break;

        const auto* header = data + offset;
        const auto nameLength = (std::size_t) CaptureFormat::readLittleEndian (header + 16, 4);
        const auto numBytes = (std::size_t) CaptureFormat::readLittleEndian (header + 20, 4);

        if (remaining - CaptureFormat::recordHeaderSize < nameLength + numBytes)
            break;

        Record record;
        record.startNs = (std::int64_t) CaptureFormat::readLittleEndian (header, 8);
        record.endNs = (std::int64_t) CaptureFormat::readLittleEndian (header + 8, 8);

        const auto* name = header + CaptureFormat::recordHeaderSize;
        record.port.assign (reinterpret_cast<const char*> (name), nameLength);
        record.bytes.assign (name + nameLength, name + nameLength + numBytes);

        result.records.push_back (std::move (record));
        offset += CaptureFormat::recordHeaderSize + nameLength + numBytes;
    }

    if (offset < size)
        result.fault = "the file ends inside record " + std::to_string (result.records.size())
                         + " (at byte " + std::to_string (offset) + ")";
    else
        result.complete = true;

    return result;
}

CaptureReader::Result CaptureReader::readFile (const std::string& path)
{
    std::ifstream file (path, std::ios::binary);

    if (! file)
    {
        Result result;
        result.fault = "cannot read " + path;
        return result;
    }

    const std::vector<std::uint8_t> data ((std::istreambuf_iterator<char> (file)), std::istreambuf_iterator<char>());
    return read (data.data(), data.size());
}
