#include "CaptureWriter.h"
#include "CaptureFormat.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

CaptureWriter::~CaptureWriter()
{
    close();
}

bool CaptureWriter::open (const std::string& path)
{
    close();

    if (path.empty())
        return true;

    fd = ::open (path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

    if (fd < 0)
    {
        std::fprintf (stderr, "virtual-midi: cannot create capture file %s: %s\n", path.c_str(), std::strerror (errno));
        return false;
    }

    filePath = path;

    std::vector<std::uint8_t> header;
    CaptureFormat::appendFileHeader (header);
    return writeAll (header.data(), header.size());
}

void CaptureWriter::close()
{
    if (fd >= 0)
        ::close (fd);

    fd = -1;
    filePath.clear();
}

void CaptureWriter::write (const std::string& portName, const std::uint8_t* bytes, std::size_t numBytes,
                           std::int64_t startNs, std::int64_t endNs)
{
    if (fd < 0)
        return;

    std::vector<std::uint8_t> record;
    record.reserve (CaptureFormat::recordHeaderSize + portName.size() + numBytes);
    CaptureFormat::appendRecord (record, portName, bytes, numBytes, startNs, endNs);
    writeAll (record.data(), record.size());
}

bool CaptureWriter::writeAll (const std::uint8_t* data, std::size_t size)
{
    while (size > 0)
    {
        const auto written = ::write (fd, data, size);

        if (written < 0)
        {
            if (errno == EINTR)
                continue;

            // A capture that lost a record would mislead the checker: stop writing altogether.
            std::fprintf (stderr, "virtual-midi: writing capture file %s failed: %s\n", filePath.c_str(), std::strerror (errno));
            close();
            return false;
        }

        data += written;
        size -= (std::size_t) written;
    }

    return true;
}
