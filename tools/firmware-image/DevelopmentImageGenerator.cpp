#include "DevelopmentImageGenerator.h"

namespace
{
    /** SplitMix64: tiny, fast, and the same on every compiler and platform. */
    struct SplitMix64
    {
        std::uint64_t state;

        std::uint64_t next() noexcept
        {
            auto z = (state += 0x9e3779b97f4a7c15ull);
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
            return z ^ (z >> 31);
        }
    };

    void appendHeader (std::vector<std::uint8_t>& out, std::uint8_t command, std::uint8_t selector)
    {
        out.push_back (0xf0);
        out.insert (out.end(), DevelopmentImageGenerator::manufacturerId.begin(),
                    DevelopmentImageGenerator::manufacturerId.end());
        out.push_back (DevelopmentImageGenerator::modelByte1);
        out.push_back (DevelopmentImageGenerator::modelByte2);
        out.push_back (command);
        out.push_back (selector);
    }
}

std::vector<std::uint8_t> DevelopmentImageGenerator::makeFirmware()
{
    std::vector<std::uint8_t> firmware;
    firmware.reserve (firmwareSize);

    SplitMix64 random { seed };

    while (firmware.size() < firmwareSize)
    {
        auto word = random.next();

        for (int i = 0; i < 8 && firmware.size() < firmwareSize; ++i, word >>= 8)
            firmware.push_back (static_cast<std::uint8_t> (word & 0xff));
    }

    return firmware;
}

std::vector<std::uint8_t> DevelopmentImageGenerator::makeImage()
{
    const auto firmware = makeFirmware();

    std::vector<std::uint8_t> image;
    image.reserve (imageSize);

    appendHeader (image, commandStart, 0x00);
    image.push_back (0xf7);

    for (std::size_t record = 0; record < infoRecords.size(); ++record)
    {
        appendHeader (image, commandInfo, static_cast<std::uint8_t> (record + 1));
        image.insert (image.end(), infoRecords[record].begin(), infoRecords[record].end());
        image.push_back (0xf7);
    }

    std::size_t next = 0;

    for (std::size_t block = 0; block < numDataBlocks; ++block)
    {
        appendHeader (image, commandData, 0x00);

        for (std::size_t group = 0; group < payloadSize / 8; ++group)
        {
            std::uint8_t seven[7] = {};

            for (auto& b : seven)
                b = next < firmware.size() ? firmware[next++] : 0;

            std::uint8_t topBits = 0;

            for (int i = 0; i < 7; ++i)
                topBits = static_cast<std::uint8_t> (topBits | ((seven[i] >> 7) << (6 - i)));

            image.push_back (topBits);

            for (auto b : seven)
                image.push_back (static_cast<std::uint8_t> (b & 0x7f));
        }

        image.push_back (0xf7);
    }

    appendHeader (image, commandData, 0x01);
    image.push_back (0xf7);

    return image;
}
