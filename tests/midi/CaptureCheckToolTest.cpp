// quillet-capture-check, run as a program on small hand-made captures: what it
// accepts, what it rejects, and the figures it prints.

#include "CaptureFormat.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <cstdio>
#include <sys/wait.h>

namespace
{
    using Bytes = std::vector<std::uint8_t>;

    constexpr std::int64_t ms = 1'000'000;

    Bytes sysex (std::uint8_t id, std::size_t length)
    {
        Bytes bytes (length, id);
        bytes.front() = 0xf0;
        bytes.back() = 0xf7;
        return bytes;
    }

    struct Sent
    {
        Bytes bytes;
        std::int64_t startNs;
        std::string port = "Virtual Pedal";
    };

    class CaptureCheckToolTest  : public testing::Test
    {
    protected:
        void SetUp() override
        {
            messages = { sysex (1, 9), sysex (2, 40), sysex (3, 40), sysex (4, 9) };

            Bytes image;

            for (const auto& m : messages)
                image.insert (image.end(), m.begin(), m.end());

            ASSERT_TRUE (imageFile.getFile().replaceWithData (image.data(), image.size()));
        }

        /** The messages in order, starting at these times (ms). */
        std::vector<Sent> inOrder (std::initializer_list<double> startsMs) const
        {
            std::vector<Sent> sent;
            std::size_t i = 0;

            for (const auto start : startsMs)
                sent.push_back ({ messages[i++], (std::int64_t) (start * (double) ms) });

            return sent;
        }

        void writeCapture (const std::vector<Sent>& sent, std::size_t dropBytesAtEnd = 0)
        {
            Bytes file;
            CaptureFormat::appendFileHeader (file);

            for (const auto& s : sent)
                CaptureFormat::appendRecord (file, s.port, s.bytes.data(), s.bytes.size(), s.startNs, s.startNs + 2 * ms);

            file.resize (file.size() - dropBytesAtEnd);
            ASSERT_TRUE (captureFile.getFile().replaceWithData (file.data(), file.size()));
        }

        int run (const std::string& extraArguments = {})
        {
            const auto command = std::string (QUILLET_TEST_BINARY_DIR) + "/tools/capture-check/quillet-capture-check '"
                                   + captureFile.getFile().getFullPathName().toStdString() + "' '"
                                   + imageFile.getFile().getFullPathName().toStdString() + "' " + extraArguments + " 2>&1";
            output.clear();

            auto* pipe = popen (command.c_str(), "r");

            if (pipe == nullptr)
                return -1;

            char buffer[4096];

            while (const auto n = std::fread (buffer, 1, sizeof (buffer), pipe))
                output.append (buffer, n);

            const auto status = pclose (pipe);
            return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
        }

        bool printed (const std::string& text) const
        {
            return output.find (text) != std::string::npos;
        }

        std::vector<Bytes> messages;
        juce::TemporaryFile captureFile { ".vmidicap" }, imageFile { ".syx" };
        std::string output;
    };
}

//==============================================================================
TEST_F (CaptureCheckToolTest, CompleteWellPacedCapturePasses)
{
    writeCapture (inOrder ({ 1000.0, 1015.5, 1031.5, 1046.5 }));

    EXPECT_EQ (run(), 0) << output;
    EXPECT_TRUE (printed ("messages received: 4 of 4")) << output;
    EXPECT_TRUE (printed ("content: byte for byte the image's messages, in order")) << output;
    EXPECT_TRUE (printed ("min 15.000, median 15.500, p99 16.000, max 16.000")) << output;
    EXPECT_TRUE (printed ("gaps below 15.000 ms: none")) << output;
    EXPECT_TRUE (printed ("total time (first start to last start): 46.500 ms = 1.0333 x the floor of 3 x 15.000 ms = 45.000 ms")) << output;
    EXPECT_TRUE (printed ("longest send: 2.000 ms")) << output;
    EXPECT_TRUE (printed ("result: PASS")) << output;
}

TEST_F (CaptureCheckToolTest, GapJustBelowTheLimitFails)
{
    writeCapture (inOrder ({ 0.0, 15.0, 29.999, 45.0 }));

    EXPECT_EQ (run(), 1) << output;
    EXPECT_TRUE (printed ("gaps below 15.000 ms: 1, the first before message 2 (0-based)")) << output;
    EXPECT_TRUE (printed ("min 14.999")) << output;
    EXPECT_TRUE (printed ("result: FAIL")) << output;
}

TEST_F (CaptureCheckToolTest, MinimumGapCanBeChosen)
{
    writeCapture (inOrder ({ 0.0, 16.0, 32.0, 48.0 }));

    EXPECT_EQ (run ("--min-gap-ms 15"), 0) << output;
    EXPECT_EQ (run ("--min-gap-ms 20"), 1) << output;
    EXPECT_TRUE (printed ("gaps below 20.000 ms: 3")) << output;
}

TEST_F (CaptureCheckToolTest, ChangedByteFails)
{
    auto sent = inOrder ({ 0.0, 20.0, 40.0, 60.0 });
    sent[2].bytes[17] ^= 0x01;
    writeCapture (sent);

    EXPECT_EQ (run(), 1) << output;
    EXPECT_TRUE (printed ("MISMATCH at message 2 (0-based): message 2 is changed from byte 17 on")) << output;
}

TEST_F (CaptureCheckToolTest, MessageCutShortIsToldFromAChangedOne)
{
    auto sent = inOrder ({ 0.0, 20.0, 40.0 });
    sent[2].bytes.resize (25);
    writeCapture (sent);

    EXPECT_EQ (run(), 1) << output;
    EXPECT_TRUE (printed ("MISMATCH at message 2 (0-based): message 2 is cut short: its first 25 of 40 bytes")) << output;

    sent[2].bytes[24] ^= 0x01;
    writeCapture (sent);

    EXPECT_EQ (run(), 1) << output;
    EXPECT_TRUE (printed ("MISMATCH at message 2 (0-based): message 2 is changed: 25 bytes instead of 40")) << output;
}

TEST_F (CaptureCheckToolTest, MissingExtraAndReorderedMessagesFail)
{
    writeCapture (inOrder ({ 0.0, 20.0, 40.0 }));
    EXPECT_EQ (run(), 1) << output;
    EXPECT_TRUE (printed ("messages received: 3 of 4")) << output;
    EXPECT_TRUE (printed ("1 messages missing, from message 3 on")) << output;

    auto extra = inOrder ({ 0.0, 20.0, 40.0, 60.0 });
    extra.push_back ({ messages[3], 80 * ms });
    writeCapture (extra);
    EXPECT_EQ (run(), 1) << output;
    EXPECT_TRUE (printed ("1 extra messages after the image's last")) << output;

    auto swapped = inOrder ({ 0.0, 20.0, 40.0, 60.0 });
    std::swap (swapped[1].bytes, swapped[2].bytes);
    writeCapture (swapped);
    EXPECT_EQ (run(), 1) << output;
    EXPECT_TRUE (printed ("message 1 is the image's message 2 (out of order)")) << output;
}

TEST_F (CaptureCheckToolTest, OnlyTheChosenPortCounts)
{
    auto sent = inOrder ({ 0.0, 20.0, 40.0, 60.0 });
    sent.insert (sent.begin() + 1, Sent { { 0x90, 0x40, 0x40 }, 5 * ms, "Other" });
    writeCapture (sent);

    EXPECT_EQ (run(), 1) << output;     // all ports: a stray message
    EXPECT_TRUE (printed ("events to \"Other\": 1")) << output;

    EXPECT_EQ (run ("--port 'Virtual Pedal'"), 0) << output;
}

TEST_F (CaptureCheckToolTest, CaptureCutInsideARecordFails)
{
    writeCapture (inOrder ({ 0.0, 20.0, 40.0, 60.0 }), 3);

    EXPECT_EQ (run(), 1) << output;
    EXPECT_TRUE (printed ("capture: DAMAGED: the file ends inside record 3")) << output;
    EXPECT_TRUE (printed ("messages received: 3 of 4")) << output;
}

TEST_F (CaptureCheckToolTest, UnusableFilesAreReportedApart)
{
    ASSERT_TRUE (captureFile.getFile().replaceWithText ("not a capture"));
    EXPECT_EQ (run(), 2) << output;
    EXPECT_TRUE (printed ("not a capture file")) << output;

    writeCapture (inOrder ({ 0.0 }));
    ASSERT_TRUE (imageFile.getFile().replaceWithText ("no sysex"));
    EXPECT_EQ (run(), 2) << output;
    EXPECT_TRUE (printed ("is not a SysEx image")) << output;
}
