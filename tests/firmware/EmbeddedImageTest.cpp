#include "firmware/EmbeddedFirmwareStream.h"
#include "firmware/FirmwareImageClass.h"

#include <DevelopmentImageGenerator.h>
#include <SysexImageChecker.h>

#include <gtest/gtest.h>
#include <juce_cryptography/juce_cryptography.h>

#include <cstring>
#include <vector>

namespace
{
    using Gen = DevelopmentImageGenerator;

    struct Message
    {
        const std::uint8_t* data;
        std::size_t size;

        std::uint8_t command() const  { return data[6]; }
        std::uint8_t selector() const { return data[7]; }
    };

    /** Walks a stream the way the upload frames it: from each 0xF0 to the next 0xF7. */
    std::vector<Message> walk (const std::uint8_t* data, std::size_t size)
    {
        std::vector<Message> messages;
        std::size_t pos = 0;

        while (pos < size)
        {
            const auto start = pos;

            while (pos < size && data[pos] != 0xf7)
                ++pos;

            ++pos;
            messages.push_back ({ data + start, pos - start });
        }

        return messages;
    }

    class EmbeddedImage  : public testing::Test
    {
    protected:
        FirmwareImageClass record;
        std::vector<Message> messages = walk (record.streamData, (std::size_t) record.streamSize);
    };
}

//==============================================================================
TEST_F (EmbeddedImage, IsAGaplessSequenceOfCompleteMessages)
{
    ASSERT_EQ (record.streamData, EmbeddedFirmwareStream::data());
    ASSERT_EQ (record.streamSize, 12'259'620);

    const auto check = SysexImageChecker::check (record.streamData, (std::size_t) record.streamSize);
    EXPECT_TRUE (check.ok) << check.fault << " at " << check.offset;
    EXPECT_EQ (check.numMessages, 3065u);

    EXPECT_EQ (record.streamData[0], 0xf0);
    EXPECT_EQ (record.streamData[record.streamSize - 1], 0xf7);
}

TEST_F (EmbeddedImage, HasTheMessageKindsInOrderWithTheirLengths)
{
    ASSERT_EQ (messages.size(), 3065u);

    std::size_t total = 0;

    for (std::size_t i = 0; i < messages.size(); ++i)
    {
        const auto& m = messages[i];
        total += m.size;

        SCOPED_TRACE ("message " + std::to_string (i));
        ASSERT_EQ (m.data[0], 0xf0);
        ASSERT_EQ (m.data[m.size - 1], 0xf7);
        ASSERT_EQ (0, std::memcmp (m.data + 1, Gen::manufacturerId.data(), 3));
        ASSERT_EQ (m.data[4], 0x00);
        ASSERT_EQ (m.data[5], 0x7a);

        if (i == 0)
        {
            EXPECT_EQ (m.size, 9u);
            EXPECT_EQ (m.command(), 0x51);
            EXPECT_EQ (m.selector(), 0x00);
        }
        else if (i <= 5)
        {
            EXPECT_EQ (m.size, 16u);
            EXPECT_EQ (m.command(), 0x53);
            EXPECT_EQ (m.selector(), i);
        }
        else if (i < 3064)
        {
            ASSERT_EQ (m.size, 4009u);
            ASSERT_EQ (0, std::memcmp (m.data, messages[6].data, 8)) << "data-block headers differ";
            EXPECT_EQ (m.command(), 0x52);
            EXPECT_EQ (m.selector(), 0x00);
        }
        else
        {
            EXPECT_EQ (m.size, 9u);
            EXPECT_EQ (m.command(), 0x52);
            EXPECT_EQ (m.selector(), 0x01);
            EXPECT_EQ (m.data + m.size, record.streamData + record.streamSize);
        }
    }

    EXPECT_EQ (total, 12'259'620u);
}

TEST_F (EmbeddedImage, CarriesTheInfoRecordsByteForByte)
{
    const std::uint8_t expected[5][7] = {
        { 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 },
        { 0x7a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 },
        { 0x00, 0x00, 0x1f, 0x20, 0x00, 0x00, 0x00 },
        { 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x59 },
        { 0x00, 0x05, 0x0d, 0x10, 0x00, 0x00, 0x00 },
    };

    ASSERT_GE (messages.size(), 6u);

    for (int r = 0; r < 5; ++r)
        EXPECT_EQ (0, std::memcmp (messages[(size_t) r + 1].data + 8, expected[r], 7)) << "info record " << r + 1;

    // Record 3 gives the payload length of a block, record 5 / 128 covers the firmware.
    const auto digits = [] (const std::uint8_t* v) { return ((v[0] * 128 + v[1]) * 128 + v[2]) * 128 + v[3]; };
    EXPECT_EQ (digits (expected[2]), 4000);
    EXPECT_GE (digits (expected[4]) * 128, (int) Gen::firmwareSize);
}

TEST_F (EmbeddedImage, ProgressQuotientReachesOneExactlyAfterTheEndMessage)
{
    const auto total = (juce::uint32) record.streamSize;
    juce::uint32 sent = 0;

    for (std::size_t i = 0; i < messages.size(); ++i)
    {
        sent += (juce::uint32) messages[i].size;
        const auto fraction = (double) sent / (double) total;

        if (i + 1 < messages.size())
            ASSERT_LT (fraction, 1.0) << "message " << i;
        else
            EXPECT_EQ (fraction, 1.0);
    }
}

TEST_F (EmbeddedImage, DataBlocksUnpackToTheFirmwareFollowedByZeros)
{
    const auto firmware = Gen::makeFirmware();
    std::size_t next = 0;

    for (std::size_t block = 0; block < Gen::numDataBlocks; ++block)
    {
        const auto* payload = messages[6 + block].data + 8;

        for (std::size_t group = 0; group < 500; ++group)
        {
            const auto* g = payload + group * 8;

            for (int i = 0; i < 7; ++i, ++next)
            {
                const auto byte = (std::uint8_t) (((g[0] >> (6 - i)) & 1) << 7 | g[1 + i]);
                const auto expected = next < firmware.size() ? firmware[next] : 0;
                ASSERT_EQ (byte, expected) << "firmware byte " << next;
            }
        }
    }

    EXPECT_GT (firmware.size(), (Gen::numDataBlocks - 2) * Gen::firmwareBytesPerBlock) << "second-to-last block must carry firmware";
    EXPECT_LT (firmware.size(), (Gen::numDataBlocks - 1) * Gen::firmwareBytesPerBlock) << "second-to-last block must end in zero fill";

    const auto& lastBlock = messages[3063];
    for (std::size_t i = 8; i < lastBlock.size - 1; ++i)
        ASSERT_EQ (lastBlock.data[i], 0) << "last block byte " << i;
}

#if QUILLET_DEVELOPMENT_IMAGE
TEST_F (EmbeddedImage, IsTheDeterministicDevelopmentImage)
{
    const auto generated = Gen::makeImage();
    ASSERT_EQ (generated.size(), (std::size_t) record.streamSize);
    EXPECT_EQ (0, std::memcmp (generated.data(), record.streamData, generated.size()));

    const juce::SHA256 sha (record.streamData, (size_t) record.streamSize);
    EXPECT_EQ (sha.toHexString(), "05c243b70d8d33765b94211f1ba7cf48929e2e2a07e6c3b5305de2607b44853b");
}
#endif
