// quillet-capture-check CAPTURE_FILE IMAGE_FILE [--min-gap-ms MS] [--port NAME]
//
// Checks what a run of the updater over the stand-in MIDI service sent: every
// message of the image, unchanged and in order, no start closer to the previous
// one than the minimum gap. Exit status 0 when all holds, 1 when not, 2 when the
// files cannot be used.

#include "CaptureCheck.h"
#include "CaptureReader.h"
#include "SysexImageChecker.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace
{
    int usage()
    {
        std::cerr << "usage: quillet-capture-check CAPTURE_FILE IMAGE_FILE [--min-gap-ms MS] [--port NAME]\n";
        return 2;
    }
}

int main (int argc, char** argv)
{
    std::string capturePath, imagePath;
    CaptureCheck::Options options;

    for (int i = 1; i < argc; ++i)
    {
        const std::string argument (argv[i]);

        if (argument == "--min-gap-ms" && i + 1 < argc)
        {
            char* end = nullptr;
            const auto* value = argv[++i];
            options.minGapMs = std::strtod (value, &end);

            if (end == value || *end != 0 || options.minGapMs < 0)
                return usage();
        }
        else if (argument == "--port" && i + 1 < argc)
        {
            options.port = argv[++i];
        }
        else if (capturePath.empty() && argument.rfind ("--", 0) != 0)
        {
            capturePath = argument;
        }
        else if (imagePath.empty() && argument.rfind ("--", 0) != 0)
        {
            imagePath = argument;
        }
        else
        {
            return usage();
        }
    }

    if (imagePath.empty())
        return usage();

    std::ifstream imageFile (imagePath, std::ios::binary);

    if (! imageFile)
    {
        std::cerr << "cannot read " << imagePath << "\n";
        return 2;
    }

    const std::vector<std::uint8_t> image ((std::istreambuf_iterator<char> (imageFile)), std::istreambuf_iterator<char>());
    const auto imageCheck = SysexImageChecker::check (image.data(), image.size());

    if (! imageCheck.ok)
    {
        std::cerr << imagePath << " is not a SysEx image: " << imageCheck.fault << " at byte " << imageCheck.offset << "\n";
        return 2;
    }

    const auto capture = CaptureReader::readFile (capturePath);

    if (! capture.readable)
    {
        std::cerr << capturePath << ": " << capture.fault << "\n";
        return 2;
    }

    std::cout << "capture: " << capturePath << ", " << capture.records.size() << " events\n"
              << "image: " << imagePath << ", " << imageCheck.numMessages << " messages, " << image.size() << " bytes\n";

    const auto report = CaptureCheck::check (capture, CaptureCheck::splitImage (image.data(), image.size()), options);
    std::cout << CaptureCheck::describe (report, options);

    return report.passed ? 0 : 1;
}
