#include "SysexImageChecker.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace
{
    std::string hexByte (std::uint8_t b)
    {
        char text[8];
        std::snprintf (text, sizeof (text), "0x%02X", static_cast<unsigned> (b));
        return text;
    }

    SysexImageChecker::Result fault (std::uint64_t offset, std::string what)
    {
        SysexImageChecker::Result r;
        r.ok = false;
        r.offset = offset;
        r.fault = std::move (what);
        return r;
    }
}

SysexImageChecker::Result SysexImageChecker::check (const std::uint8_t* data, std::size_t size)
{
    if (static_cast<std::uint64_t> (size) > 0xffffffffull)
        return fault (0x100000000ull, "the image is longer than 4294967295 bytes, which the upload cannot count");

    if (size == 0)
        return fault (0, "the image is empty");

    Result result;
    std::size_t pos = 0;

    while (pos < size)
    {
        if (data[pos] != 0xf0)
            return fault (pos, pos == 0 ? "the image does not start with 0xF0 (found " + hexByte (data[pos]) + ")"
                                        : "expected 0xF0 to start a message after the previous 0xF7, found "
                                              + hexByte (data[pos]));

        const auto start = pos++;

        for (;;)
        {
            if (pos >= size)
                return fault (start, "the message starting here has no 0xF7 before the end of the image");

            const auto b = data[pos];

            if (b == 0xf7)
                break;

            if ((b & 0x80) != 0)
                return fault (pos, "byte " + hexByte (b) + " with its top bit set inside the message starting at offset "
                                       + std::to_string (start));

            ++pos;
        }

        ++pos;
        ++result.numMessages;
    }

    return result;
}

SysexImageChecker::Result SysexImageChecker::checkFile (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);

    if (! in)
        return fault (0, "the file cannot be read");

    const std::vector<std::uint8_t> bytes ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    return check (bytes.data(), bytes.size());
}
