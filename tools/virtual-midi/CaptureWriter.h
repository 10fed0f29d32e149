#pragma once

#include <cstdint>
#include <string>

//==============================================================================
/**
    Writes received events to a capture file (format in CaptureFormat.h), each
    record with a single write call and no buffering of its own, so whatever was
    written survives the program being killed.

    Not thread-safe by itself: the stand-in MIDI service calls it under its lock.
*/
class CaptureWriter
{
public:
    CaptureWriter() = default;
    ~CaptureWriter();

    CaptureWriter (const CaptureWriter&) = delete;
    CaptureWriter& operator= (const CaptureWriter&) = delete;

    /** Creates (or truncates) the file and writes its header; an empty path just
        closes the current file. Returns false, with a note on stderr, on failure. */
    bool open (const std::string& path);
    void close();

    bool isOpen() const noexcept   { return fd >= 0; }

    void write (const std::string& portName, const std::uint8_t* bytes, std::size_t numBytes,
                std::int64_t startNs, std::int64_t endNs);

private:
    bool writeAll (const std::uint8_t* data, std::size_t size);

    int fd = -1;
    std::string filePath;
};
