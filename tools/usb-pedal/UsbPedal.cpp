// The pedal's side of a USB MIDI gadget, and two helpers of the real-kernel
// bench (tests/real-kernel). Links the system's libasound, never the stand-in.
//
//   quillet-usb-pedal listen DEVICE CAPTURE_FILE [--unplug-after N --udc UDC_FILE] [--summary FILE]
//
//     Reads the gadget's raw MIDI input DEVICE (hw:fmidi,0,0) and writes one
//     capture record (tools/virtual-midi/CaptureFormat.h) per message: start
//     and end are when its first and last byte were read. Bytes outside a
//     SysEx message are recorded as they come, in records of their own; a
//     message cut short is recorded as it was. When the device goes, it waits
//     for it to come back and goes on. With --unplug-after, an empty line goes
//     into UDC_FILE right after the N-th whole message: the pedal leaves the
//     bus by itself, as one that restarts does.
//
//   quillet-usb-pedal hold DEVICE
//
//     Opens the raw MIDI output DEVICE and holds it, as another program would.
//
//   quillet-usb-pedal announcements [--summary FILE]
//
//     Listens to the sequencer's announcements (client 0, port 1), prints each
//     and counts them by kind.
//
// Each mode says on stdout when it is ready, and listen says when the pedal
// unplugs itself, goes and comes back. SIGTERM or SIGINT ends it: it
// writes its summary (key=value lines) to the file or to stdout and exits 0.
// Exit status 1 when it cannot start, 2 on a wrong command line.

#include "CaptureFormat.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace
{
    int usage()
    {
        std::fprintf (stderr,
                      "usage: quillet-usb-pedal listen DEVICE CAPTURE_FILE [--unplug-after N --udc UDC_FILE] [--summary FILE]\n"
                      "       quillet-usb-pedal hold DEVICE\n"
                      "       quillet-usb-pedal announcements [--summary FILE]\n");
        return 2;
    }

    std::int64_t monotonicNs()
    {
        timespec now {};
        clock_gettime (CLOCK_MONOTONIC, &now);
        return (std::int64_t) now.tv_sec * 1000000000 + now.tv_nsec;
    }

    /** SIGTERM and SIGINT, blocked and read from a descriptor, so that a poll
        sees them beside the device and none arrives between a check and a wait. */
    int openSignalDescriptor()
    {
        sigset_t signals;
        sigemptyset (&signals);
        sigaddset (&signals, SIGTERM);
        sigaddset (&signals, SIGINT);
        sigprocmask (SIG_BLOCK, &signals, nullptr);
        return signalfd (-1, &signals, SFD_CLOEXEC);
    }

    bool writeAll (int fd, const std::uint8_t* data, std::size_t size)
    {
        while (size > 0)
        {
            const auto written = ::write (fd, data, size);

            if (written < 0 && errno == EINTR)
                continue;

            if (written <= 0)
                return false;

            data += written;
            size -= (std::size_t) written;
        }

        return true;
    }

    bool writeSummary (const std::string& path, const std::string& text)
    {
        if (path.empty())
        {
            std::fputs (text.c_str(), stdout);
            return std::fflush (stdout) == 0;
        }

        auto* file = std::fopen (path.c_str(), "w");

        if (file == nullptr)
        {
            std::fprintf (stderr, "quillet-usb-pedal: cannot write %s: %s\n", path.c_str(), std::strerror (errno));
            return false;
        }

        std::fputs (text.c_str(), file);
        return std::fclose (file) == 0;
    }

    std::string errorName (int error)
    {
        switch (error)
        {
            case ENODEV: return "ENODEV";
            case EIO:    return "EIO";
            case EBADFD: return "EBADFD";
            case EPIPE:  return "EPIPE";
            case EBUSY:  return "EBUSY";
            case ENOENT: return "ENOENT";
            case ENXIO:  return "ENXIO";
            default:     return "errno " + std::to_string (error);
        }
    }

    void ignoreLibraryError (const char*, int, const char*, int, const char*, ...) {}

    //==============================================================================
    /** The pedal: its raw MIDI input, read as fast as the bytes come, and the
        capture of what it took. */
    class Pedal
    {
    public:
        Pedal (std::string deviceToUse, int captureFd, int signalFdToUse)
            : device (std::move (deviceToUse)), capture (captureFd), signals (signalFdToUse)
        {
        }

        ~Pedal()
        {
            closeDevice();
        }

        void unplugAfter (long messages, std::string udcFile)
        {
            unplugAfterMessages = messages;
            udc = std::move (udcFile);
        }

        /** False when the device cannot be opened at the start. */
        bool start()
        {
            if (const auto error = openDevice(); error < 0)
            {
                std::fprintf (stderr, "quillet-usb-pedal: cannot open %s for input: %s\n", device.c_str(), snd_strerror (error));
                return false;
            }

            std::printf ("listening on %s, buffer %zu bytes\n", device.c_str(), bufferSize);
            std::fflush (stdout);
            return true;
        }

        /** Reads until a signal ends it; false when the capture could not be written. */
        bool run()
        {
            while (! stopping && captureOk)
            {
                if (input == nullptr)
                    waitForDevice();
                else
                    readOnce();
            }

            // The bytes that came before the signal are the pedal's too.
            while (input != nullptr && captureOk && readAvailable() > 0) {}

            finishMessage();
            return captureOk;
        }

        std::string summary() const
        {
            std::string text;
            const auto add = [&text] (const char* key, const std::string& value) { text += std::string (key) + "=" + value + "\n"; };

            add ("device", device);
            add ("buffer", std::to_string (bufferSize));
            add ("messages", std::to_string (wholeMessages));
            add ("cut_short", std::to_string (cutShort));
            add ("stray_records", std::to_string (strayRecords));
            add ("bytes", std::to_string (totalBytes));
            add ("xruns", std::to_string (xruns));
            add ("reopens", std::to_string (reopens));

            for (const auto& [error, count] : readErrors)
                add (("read_error_" + errorName (error)).c_str(), std::to_string (count));

            if (unplugAfterMessages > 0)
            {
                add ("unplug_after", std::to_string (unplugAfterMessages));
                add ("unplugged", unpluggedAtNs > 0 ? "yes" : "no");

                if (unpluggedAtNs > 0 && goneAtNs >= unpluggedAtNs)
                    add ("gone_after_unplug_ms", std::to_string ((goneAtNs - unpluggedAtNs) / 1000000));
            }

            if (backAtNs > 0)
                add ("back_after_gone_ms", std::to_string ((backAtNs - goneAtNs) / 1000000));

            return text;
        }

    private:
        static constexpr std::size_t wantedBufferSize = 1 << 20;
        static constexpr std::size_t readSize = 64 * 1024;

        int openDevice()
        {
            snd_rawmidi_t* opened = nullptr;

            if (const auto error = snd_rawmidi_open (&opened, nullptr, device.c_str(), SND_RAWMIDI_NONBLOCK); error < 0)
                return error;

            // The gadget drops what does not fit in this buffer: a reader that
            // falls behind must not make the host look as if it lost bytes.
            snd_rawmidi_params_t* params = nullptr;
            snd_rawmidi_params_alloca (&params);

            auto error = snd_rawmidi_params_current (opened, params);

            if (error >= 0)
                error = snd_rawmidi_params_set_buffer_size (opened, params, wantedBufferSize);

            if (error >= 0)
                error = snd_rawmidi_params_set_avail_min (opened, params, 1);

            if (error >= 0)
                error = snd_rawmidi_params (opened, params);

            if (error >= 0)
                error = snd_rawmidi_params_current (opened, params);

            if (error < 0)
            {
                snd_rawmidi_close (opened);
                return error;
            }

            bufferSize = snd_rawmidi_params_get_buffer_size (params);
            input = opened;

            // The input takes bytes only once it is triggered, which the first read does.
            std::uint8_t none[1];
            snd_rawmidi_read (input, none, 0);
            return 0;
        }

        void closeDevice()
        {
            if (input != nullptr)
                snd_rawmidi_close (input);

            input = nullptr;
        }

        void readOnce()
        {
            pollfd descriptors[8] {};
            const auto count = snd_rawmidi_poll_descriptors (input, descriptors, 7);

            if (count <= 0)
            {
                deviceGone (EBADFD);
                return;
            }

            descriptors[count] = { signals, POLLIN, 0 };

            // Bytes and signals end the wait; a device that goes is found by the
            // read within the timeout, whether or not the poll reports it.
            if (poll (descriptors, (nfds_t) count + 1, 20) < 0)
                return;

            if ((descriptors[count].revents & POLLIN) != 0)
                stopping = true;

            readAvailable();
        }

        /** Reads what is in the buffer now; the number of bytes read, or -1
            once the device has gone. */
        long readAvailable()
        {
            std::uint8_t bytes[readSize];
            const auto numRead = snd_rawmidi_read (input, bytes, sizeof (bytes));

            if (numRead == -EAGAIN || numRead == -EINTR)
                return 0;

            if (numRead < 0)
            {
                deviceGone ((int) -numRead);
                return -1;
            }

            const auto now = monotonicNs();
            countOverruns();
            totalBytes += (std::size_t) numRead;

            for (long i = 0; i < numRead && captureOk; ++i)
                take (bytes[i], now);

            // Stray bytes are recorded as they come, one record per read.
            if (! inSysex)
                finishMessage();

            return numRead;
        }

        void countOverruns()
        {
            snd_rawmidi_status_t* status = nullptr;
            snd_rawmidi_status_alloca (&status);

            // Reading the status resets the kernel's count: each read's adds up.
            if (snd_rawmidi_status (input, status) >= 0)
                xruns += snd_rawmidi_status_get_xruns (status);
        }

        void take (std::uint8_t byte, std::int64_t now)
        {
            if (byte == 0xf0)
            {
                finishMessage();
                inSysex = true;
            }

            if (message.empty())
                startNs = now;

            message.push_back (byte);
            endNs = now;

            if (inSysex && byte == 0xf7)
            {
                inSysex = false;
                ++wholeMessages;
                finishMessage();

                if (wholeMessages == unplugAfterMessages)
                    unplug();
            }
        }

        /** Records the message read so far, whole or not, if there is one. */
        void finishMessage()
        {
            if (message.empty())
                return;

            if (inSysex)
                ++cutShort;
            else if (message.front() != 0xf0)
                ++strayRecords;

            std::vector<std::uint8_t> record;
            CaptureFormat::appendRecord (record, device, message.data(), message.size(), startNs, endNs);

            if (! writeAll (capture, record.data(), record.size()))
            {
                std::fprintf (stderr, "quillet-usb-pedal: writing the capture failed: %s\n", std::strerror (errno));
                captureOk = false;
            }

            message.clear();
            inSysex = false;
        }

        void unplug()
        {
            const auto startedAt = monotonicNs();
            const auto fd = ::open (udc.c_str(), O_WRONLY | O_CLOEXEC);
            const std::uint8_t emptyLine[] = { '\n' };

            if (fd < 0 || ! writeAll (fd, emptyLine, 1))
            {
                std::fprintf (stderr, "quillet-usb-pedal: cannot unplug through %s: %s\n", udc.c_str(), std::strerror (errno));
            }
            else
            {
                unpluggedAtNs = startedAt;
                std::printf ("unplugged after message %ld\n", wholeMessages);
                std::fflush (stdout);
            }

            if (fd >= 0)
                ::close (fd);
        }

        void deviceGone (int error)
        {
            goneAtNs = monotonicNs();
            ++readErrors[error];
            finishMessage();
            closeDevice();

            std::printf ("gone after %ld whole messages (%s)\n", wholeMessages, errorName (error).c_str());
            std::fflush (stdout);
        }

        /** Tries to open the device again every 20 ms until it is back or a
            signal ends the wait. */
        void waitForDevice()
        {
            pollfd descriptor { signals, POLLIN, 0 };

            if (poll (&descriptor, 1, 20) > 0)
            {
                stopping = true;
                return;
            }

            // The library reports every failed attempt while the card is away.
            snd_lib_error_set_handler (ignoreLibraryError);
            const auto opened = openDevice() == 0;
            snd_lib_error_set_handler (nullptr);

            if (opened)
            {
                ++reopens;
                backAtNs = monotonicNs();
                std::printf ("back after %lld ms\n", (long long) ((backAtNs - goneAtNs) / 1000000));
                std::fflush (stdout);
            }
        }

        const std::string device;
        const int capture;
        const int signals;
        snd_rawmidi_t* input = nullptr;
        std::size_t bufferSize = 0;

        long unplugAfterMessages = 0;
        std::string udc;

        std::vector<std::uint8_t> message;
        bool inSysex = false;
        std::int64_t startNs = 0, endNs = 0;

        long wholeMessages = 0, cutShort = 0, strayRecords = 0;
        std::size_t totalBytes = 0, xruns = 0;
        long reopens = 0;
        std::map<int, long> readErrors;
        std::int64_t unpluggedAtNs = 0, goneAtNs = 0, backAtNs = 0;
        bool stopping = false, captureOk = true;
    };

    //==============================================================================
    int listen (int argc, char** argv, int signals)
    {
        if (argc < 4)
            return usage();

        std::string device = argv[2], capturePath = argv[3], udc, summaryPath;
        long unplugAfter = 0;

        for (int i = 4; i < argc; ++i)
        {
            const std::string argument = argv[i];

            if (i + 1 >= argc)
                return usage();

            if (argument == "--unplug-after")
                unplugAfter = std::strtol (argv[++i], nullptr, 10);
            else if (argument == "--udc")
                udc = argv[++i];
            else if (argument == "--summary")
                summaryPath = argv[++i];
            else
                return usage();
        }

        if ((unplugAfter > 0) != ! udc.empty() || unplugAfter < 0)
            return usage();

        const auto captureFd = ::open (capturePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::vector<std::uint8_t> header;
        CaptureFormat::appendFileHeader (header);

        if (captureFd < 0 || ! writeAll (captureFd, header.data(), header.size()))
        {
            std::fprintf (stderr, "quillet-usb-pedal: cannot write %s: %s\n", capturePath.c_str(), std::strerror (errno));
            return 1;
        }

        Pedal pedal (device, captureFd, signals);

        if (unplugAfter > 0)
            pedal.unplugAfter (unplugAfter, udc);

        if (! pedal.start())
            return 1;

        const auto captured = pedal.run();
        const auto closed = ::close (captureFd) == 0;
        const auto written = writeSummary (summaryPath, pedal.summary());
        return captured && closed && written ? 0 : 1;
    }

    int hold (int argc, char** argv, int signals)
    {
        if (argc != 3)
            return usage();

        snd_rawmidi_t* output = nullptr;

        if (const auto error = snd_rawmidi_open (nullptr, &output, argv[2], SND_RAWMIDI_NONBLOCK); error < 0)
        {
            std::fprintf (stderr, "quillet-usb-pedal: cannot open %s for output: %s\n", argv[2], snd_strerror (error));
            return 1;
        }

        std::printf ("holding %s\n", argv[2]);
        std::fflush (stdout);

        signalfd_siginfo received {};
        while (read (signals, &received, sizeof (received)) < 0 && errno == EINTR) {}

        snd_rawmidi_drop (output);
        snd_rawmidi_close (output);
        return 0;
    }

    //==============================================================================
    const char* announcementName (int type)
    {
        switch (type)
        {
            case SND_SEQ_EVENT_CLIENT_START:     return "client_start";
            case SND_SEQ_EVENT_CLIENT_EXIT:      return "client_exit";
            case SND_SEQ_EVENT_CLIENT_CHANGE:    return "client_change";
            case SND_SEQ_EVENT_PORT_START:       return "port_start";
            case SND_SEQ_EVENT_PORT_EXIT:        return "port_exit";
            case SND_SEQ_EVENT_PORT_CHANGE:      return "port_change";
            case SND_SEQ_EVENT_PORT_SUBSCRIBED:  return "port_subscribed";
            case SND_SEQ_EVENT_PORT_UNSUBSCRIBED: return "port_unsubscribed";
            default:                             return "other";
        }
    }

    int announcements (int argc, char** argv, int signals)
    {
        std::string summaryPath;

        if (argc == 4 && std::string (argv[2]) == "--summary")
            summaryPath = argv[3];
        else if (argc != 2)
            return usage();

        snd_seq_t* seq = nullptr;

        if (const auto error = snd_seq_open (&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK); error < 0)
        {
            std::fprintf (stderr, "quillet-usb-pedal: cannot open the sequencer: %s\n", snd_strerror (error));
            return 1;
        }

        snd_seq_set_client_name (seq, "quillet announcements");
        const auto port = snd_seq_create_simple_port (seq, "announcements", SND_SEQ_PORT_CAP_WRITE, SND_SEQ_PORT_TYPE_APPLICATION);

        if (port < 0 || snd_seq_connect_from (seq, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0)
        {
            std::fprintf (stderr, "quillet-usb-pedal: cannot subscribe to the announcements\n");
            snd_seq_close (seq);
            return 1;
        }

        std::printf ("listening to announcements as client %d\n", snd_seq_client_id (seq));
        std::fflush (stdout);

        std::map<std::string, long> counts;
        snd_seq_client_info_t* info = nullptr;
        snd_seq_client_info_alloca (&info);

        const auto readEvents = [&]
        {
            snd_seq_event_t* event = nullptr;

            while (snd_seq_event_input (seq, &event) >= 0 && event != nullptr)
            {
                const auto* name = announcementName (event->type);
                ++counts[name];

                // A client may be gone by the time its start is read.
                std::string clientName = "?";
                if (snd_seq_get_any_client_info (seq, event->data.addr.client, info) >= 0)
                    clientName = snd_seq_client_info_get_name (info);

                std::printf ("%.3f %s %d:%d %s\n", (double) monotonicNs() / 1.0e9, name,
                             event->data.addr.client, event->data.addr.port, clientName.c_str());
            }
        };

        pollfd descriptors[8] {};
        const auto count = snd_seq_poll_descriptors (seq, descriptors, 7, POLLIN);
        descriptors[count] = { signals, POLLIN, 0 };

        for (;;)
        {
            if (poll (descriptors, (nfds_t) count + 1, -1) < 0 && errno != EINTR)
                break;

            readEvents();

            if ((descriptors[count].revents & POLLIN) != 0)
                break;
        }

        std::fflush (stdout);
        snd_seq_close (seq);

        std::string text;
        for (const auto* kind : { "client_start", "client_exit", "client_change", "port_start", "port_exit",
                                  "port_change", "port_subscribed", "port_unsubscribed", "other" })
            text += std::string (kind) + "=" + std::to_string (counts[kind]) + "\n";

        return writeSummary (summaryPath, text) ? 0 : 1;
    }
}

int main (int argc, char** argv)
{
    if (argc < 2)
        return usage();

    const auto signals = openSignalDescriptor();

    if (signals < 0)
    {
        std::perror ("quillet-usb-pedal: signalfd");
        return 1;
    }

    const std::string mode = argv[1];

    if (mode == "listen")
        return listen (argc, argv, signals);

    if (mode == "hold")
        return hold (argc, argv, signals);

    if (mode == "announcements")
        return announcements (argc, argv, signals);

    return usage();
}
