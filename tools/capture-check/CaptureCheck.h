#pragma once

#include "CaptureReader.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

//==============================================================================
/**
    Compares what reached a MIDI port (a capture) with the SysEx image that was
    meant to be sent, and measures the pacing: the gaps between the starts of
    consecutive sends.
*/
class CaptureCheck
{
public:
    struct Options
    {
        double minGapMs = 15.0;
        std::string port;           ///< only events to this port count; empty: all
    };

    struct Report
    {
        bool captureComplete = false;           ///< false: the capture file ends inside a record
        std::string captureFault;
        std::map<std::string, std::size_t> eventsPerPort;   ///< all events in the capture

        std::size_t numExpected = 0;
        std::size_t numReceived = 0;

        bool contentOk = false;
        std::string contentFault;               ///< what is wrong with the content, when not ok
        std::ptrdiff_t firstMismatch = -1;      ///< 0-based index of the first wrong or missing message

        bool hasGaps = false;                   ///< at least two messages
        double minGapMs = 0, medianGapMs = 0, p99GapMs = 0, maxGapMs = 0;
        std::size_t numGapsBelowLimit = 0;
        std::ptrdiff_t firstGapBelowLimit = -1; ///< index of the message that came too early
        double totalMs = 0;                     ///< first start to last start
        double floorMs = 0;                     ///< (messages - 1) x minimum gap
        double longestSendMs = 0;

        bool passed = false;                    ///< complete, unchanged, in order, no gap too short
    };

    /** The messages of a SysEx image: each from its 0xF0 to the next 0xF7. The
        image must have passed SysexImageChecker. */
    static std::vector<std::vector<std::uint8_t>> splitImage (const std::uint8_t* data, std::size_t size);

    static Report check (const CaptureReader::Result& capture,
                         const std::vector<std::vector<std::uint8_t>>& expected,
                         const Options& options);

    /** The report as the command prints it, one finding per line. */
    static std::string describe (const Report& report, const Options& options);
};
