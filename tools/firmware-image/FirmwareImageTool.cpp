// The build's firmware image tool:
//   quillet-firmware-tool generate OUTPUT   writes the development image
//   quillet-firmware-tool check IMAGE       checks an image before it is embedded

#include "DevelopmentImageGenerator.h"
#include "SysexImageChecker.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace
{
    int usage()
    {
        std::fprintf (stderr, "usage: quillet-firmware-tool generate OUTPUT | check IMAGE\n");
        return 2;
    }

    int generate (const std::string& path)
    {
        const auto image = DevelopmentImageGenerator::makeImage();
        const auto temporary = path + ".tmp";

        {
            std::ofstream out (temporary, std::ios::binary | std::ios::trunc);
            out.write (reinterpret_cast<const char*> (image.data()), static_cast<std::streamsize> (image.size()));

            if (! out.good())
            {
                std::fprintf (stderr, "error: %s: cannot write the image\n", temporary.c_str());
                return 1;
            }
        }

        // Renamed into place so that an interrupted build never leaves half an image.
        if (std::rename (temporary.c_str(), path.c_str()) != 0)
        {
            std::fprintf (stderr, "error: %s: cannot rename the image into place\n", path.c_str());
            return 1;
        }

        return 0;
    }

    int check (const std::string& path)
    {
        const auto result = SysexImageChecker::checkFile (path);

        if (! result.ok)
        {
            std::fprintf (stderr, "error: firmware image %s: offset %llu: %s\n", path.c_str(),
                          static_cast<unsigned long long> (result.offset), result.fault.c_str());
            return 1;
        }

        std::printf ("firmware image %s: %zu messages\n", path.c_str(), result.numMessages);
        return 0;
    }
}

int main (int argc, char** argv)
{
    if (argc != 3)
        return usage();

    if (std::strcmp (argv[1], "generate") == 0)
        return generate (argv[2]);

    if (std::strcmp (argv[1], "check") == 0)
        return check (argv[2]);

    return usage();
}
