#include "CaptureCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace
{
    double toMs (std::int64_t ns)
    {
        return (double) ns / 1.0e6;
    }

    std::string formatMs (double ms)
    {
        char text[64];
        std::snprintf (text, sizeof (text), "%.3f", ms);
        return text;
    }

    /** Where the received messages first part from the expected ones, and how. */
    void compareContent (const std::vector<const CaptureReader::Record*>& received,
                         const std::vector<std::vector<std::uint8_t>>& expected,
                         CaptureCheck::Report& report)
    {
        const auto common = std::min (received.size(), expected.size());

        for (std::size_t i = 0; i < common; ++i)
        {
            const auto& got = received[i]->bytes;

            if (got == expected[i])
                continue;

            report.firstMismatch = (std::ptrdiff_t) i;
            const auto elsewhere = std::find (expected.begin(), expected.end(), got);

            if (elsewhere != expected.end())
            {
                report.contentFault = "message " + std::to_string (i) + " is the image's message "
                                        + std::to_string (elsewhere - expected.begin()) + " (out of order)";
            }
            else if (got.size() < expected[i].size() && std::equal (got.begin(), got.end(), expected[i].begin()))
            {
                // What a device that went in the middle of a message had taken.
                report.contentFault = "message " + std::to_string (i) + " is cut short: its first "
                                        + std::to_string (got.size()) + " of " + std::to_string (expected[i].size()) + " bytes";
            }
            else if (got.size() != expected[i].size())
            {
                report.contentFault = "message " + std::to_string (i) + " is changed: " + std::to_string (got.size())
                                        + " bytes instead of " + std::to_string (expected[i].size());
            }
            else
            {
                const auto differ = std::mismatch (got.begin(), got.end(), expected[i].begin());
                report.contentFault = "message " + std::to_string (i) + " is changed from byte "
                                        + std::to_string (differ.first - got.begin()) + " on";
            }

            return;
        }

        if (received.size() < expected.size())
        {
            report.firstMismatch = (std::ptrdiff_t) received.size();
            report.contentFault = std::to_string (expected.size() - received.size()) + " messages missing, from message "
                                    + std::to_string (received.size()) + " on";
        }
        else if (received.size() > expected.size())
        {
            report.firstMismatch = (std::ptrdiff_t) expected.size();
            report.contentFault = std::to_string (received.size() - expected.size())
                                    + " extra messages after the image's last";
        }
        else
        {
            report.contentOk = true;
        }
    }

    void measureGaps (const std::vector<const CaptureReader::Record*>& received, double minGapMs,
                      CaptureCheck::Report& report)
    {
        for (const auto* record : received)
            report.longestSendMs = std::max (report.longestSendMs, toMs (record->endNs - record->startNs));

        if (received.size() < 2)
            return;

        const auto limitNs = (std::int64_t) std::llround (minGapMs * 1.0e6);
        std::vector<std::int64_t> gaps;

        for (std::size_t i = 1; i < received.size(); ++i)
        {
            const auto gap = received[i]->startNs - received[i - 1]->startNs;
            gaps.push_back (gap);

            if (gap < limitNs && report.numGapsBelowLimit++ == 0)
                report.firstGapBelowLimit = (std::ptrdiff_t) i;
        }

        std::sort (gaps.begin(), gaps.end());
        const auto n = gaps.size();

        report.hasGaps = true;
        report.minGapMs = toMs (gaps.front());
        report.maxGapMs = toMs (gaps.back());
        report.medianGapMs = n % 2 == 1 ? toMs (gaps[n / 2]) : (toMs (gaps[n / 2 - 1]) + toMs (gaps[n / 2])) / 2.0;
        report.p99GapMs = toMs (gaps[(std::size_t) std::ceil (0.99 * (double) n) - 1]);   // nearest rank
        report.totalMs = toMs (received.back()->startNs - received.front()->startNs);
        report.floorMs = (double) (received.size() - 1) * minGapMs;
    }
}

//==============================================================================
std::vector<std::vector<std::uint8_t>> CaptureCheck::splitImage (const std::uint8_t* data, std::size_t size)
{
    std::vector<std::vector<std::uint8_t>> messages;
    std::size_t start = 0;

    for (std::size_t i = 0; i < size; ++i)
    {
        if (data[i] == 0xf7)
        {
            messages.emplace_back (data + start, data + i + 1);
            start = i + 1;
        }
    }

    return messages;
}

CaptureCheck::Report CaptureCheck::check (const CaptureReader::Result& capture,
                                          const std::vector<std::vector<std::uint8_t>>& expected,
                                          const Options& options)
{
    Report report;
    report.captureComplete = capture.complete;
    report.captureFault = capture.fault;

    std::vector<const CaptureReader::Record*> received;

    for (const auto& record : capture.records)
    {
        ++report.eventsPerPort[record.port];

        if (options.port.empty() || record.port == options.port)
            received.push_back (&record);
    }
    report.numExpected = expected.size();
    report.numReceived = received.size();

    compareContent (received, expected, report);
    measureGaps (received, options.minGapMs, report);

    report.passed = report.captureComplete && report.contentOk && report.numGapsBelowLimit == 0;
    return report;
}

std::string CaptureCheck::describe (const Report& report, const Options& options)
{
    std::string text;
    const auto limit = formatMs (options.minGapMs);

    for (const auto& [port, count] : report.eventsPerPort)
        text += "events to \"" + port + "\": " + std::to_string (count) + "\n";

    if (! report.captureComplete)
        text += "capture: DAMAGED: " + report.captureFault + "\n";

    if (! options.port.empty())
        text += "counted: events to \"" + options.port + "\" only\n";

    text += "messages received: " + std::to_string (report.numReceived) + " of " + std::to_string (report.numExpected) + "\n";

    text += report.contentOk ? std::string ("content: byte for byte the image's messages, in order\n")
                             : "content: MISMATCH at message " + std::to_string (report.firstMismatch)
                                 + " (0-based): " + report.contentFault + "\n";

    if (report.hasGaps)
    {
        text += "gap between message starts (ms): min " + formatMs (report.minGapMs)
                  + ", median " + formatMs (report.medianGapMs)
                  + ", p99 " + formatMs (report.p99GapMs)
                  + ", max " + formatMs (report.maxGapMs) + "\n";

        text += report.numGapsBelowLimit == 0
                  ? "gaps below " + limit + " ms: none\n"
                  : "gaps below " + limit + " ms: " + std::to_string (report.numGapsBelowLimit)
                      + ", the first before message " + std::to_string (report.firstGapBelowLimit) + " (0-based)\n";

        char ratio[32];
        std::snprintf (ratio, sizeof (ratio), "%.4f", report.floorMs > 0 ? report.totalMs / report.floorMs : 0.0);

        text += "total time (first start to last start): " + formatMs (report.totalMs) + " ms = " + ratio
                  + " x the floor of " + std::to_string (report.numReceived - 1) + " x " + limit + " ms = "
                  + formatMs (report.floorMs) + " ms\n";
    }
    else
    {
        text += "gap between message starts: none (fewer than two messages)\n";
    }

    text += "longest send: " + formatMs (report.longestSendMs) + " ms\n";
    text += report.passed ? "result: PASS\n" : "result: FAIL\n";
    return text;
}
