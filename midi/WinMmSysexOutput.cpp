#include "midi/WinMmSysexOutput.h"
#include "midi/MidiDeviceList.h"

#ifndef NOMINMAX
 #define NOMINMAX
#endif

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace
{
    using Clock = std::chrono::steady_clock;

    /** How long opening waits for the driver, and closing for the device's
        thread when no send is out. */
    constexpr auto openBound = std::chrono::seconds (1);
    constexpr auto closeBound = std::chrono::milliseconds (500);

    /** The longest a waiting protocol thread goes without looking whether it
        is asked to exit. */
    constexpr auto exitPollInterval = std::chrono::milliseconds (10);

    juce::String describe (MMRESULT result)
    {
        WCHAR text[MAXERRORLENGTH] = {};
        midiOutGetErrorTextW (result, text, MAXERRORLENGTH);
        return "error " + juce::String (static_cast<int> (result)) + " (" + juce::String (text) + ")";
    }

    void logProblem (const juce::String& identifier, const juce::String& problem)
    {
        juce::Logger::writeToLog ("WinMM output \"" + identifier + "\": " + problem);
    }

    /** The device interface name the driver gives for this device id, if any. */
    juce::String getInterfaceName (UINT deviceId)
    {
        const auto device = reinterpret_cast<HMIDIOUT> (static_cast<UINT_PTR> (deviceId));
        ULONG size = 0;

        if (midiOutMessage (device, DRV_QUERYDEVICEINTERFACESIZE, reinterpret_cast<DWORD_PTR> (&size), 0) != MMSYSERR_NOERROR)
            return {};

        WCHAR name[512] = {};

        if (! juce::isPositiveAndBelow (size, sizeof (name))
            || midiOutMessage (device, DRV_QUERYDEVICEINTERFACE, reinterpret_cast<DWORD_PTR> (name), sizeof (name)) != MMSYSERR_NOERROR)
            return {};

        return name;
    }

    /** The WinMM device id behind an identifier of the framework's output list.

        The framework lists the devices whose capabilities can be read, in device
        id order, and names each by its interface name or else its product name,
        with "-2", "-3"... on repeats. It asks for the interface name by the
        device's position in that list, which is its id unless an earlier device
        was left out; the same is done here so that the identifiers match. The
        id returned is that of the device at the identifier's position: the one
        whose name the user chose. */
    std::optional<UINT> findDeviceId (const juce::String& identifier)
    {
        juce::Array<UINT> deviceIds;
        juce::StringArray names;

        const auto numDevices = midiOutGetNumDevs();

        for (UINT id = 0; id < numDevices; ++id)
        {
            MIDIOUTCAPSW caps = {};

            if (midiOutGetDevCapsW (id, &caps, sizeof (caps)) == MMSYSERR_NOERROR)
            {
                deviceIds.add (id);
                names.add (caps.szPname);
            }
        }

        juce::StringArray identifiers;

        for (int position = 0; position < names.size(); ++position)
        {
            const auto interfaceName = getInterfaceName (static_cast<UINT> (position));
            identifiers.add (interfaceName.isNotEmpty() ? interfaceName : names[position]);
        }

        identifiers.appendNumbersToDuplicates (false, false, juce::CharPointer_UTF8 ("-"), juce::CharPointer_UTF8 (""));

        const auto position = identifiers.indexOf (identifier);

        if (position < 0)
            return {};

        return deviceIds[position];
    }

    /** The identifiers of devices whose output was left behind with a message
        out, until its thread ends. */
    struct LeftBehind
    {
        juce::CriticalSection lock;
        juce::StringArray identifiers;
    };

    LeftBehind& getLeftBehind()
    {
        static LeftBehind leftBehind;
        return leftBehind;
    }
}

//==============================================================================
/** The open device and the thread that makes every call into it, shared by the
    output and that thread: whichever lets go last deletes it, so a thread that
    is left behind on a stuck driver keeps what the driver may still touch (the
    handle, the completion event, the message and its header).

    The two sides wake each other with Win32 events: under Wine a waiting
    thread wakes several times sooner from an event than from a condition
    variable, and the wake of the device's thread lies between two messages. */
class WinMmSysexOutput::Device
{
public:
    Device (UINT deviceIdToUse, const juce::String& identifierToUse)
        : deviceId (deviceIdToUse), identifier (identifierToUse)
    {
    }

    ~Device()
    {
        for (auto event : { completion, wakeThread, wakeOwner })
            if (event != nullptr)
                CloseHandle (event);
    }

    bool hasEvents() const noexcept
    {
        return completion != nullptr && wakeThread != nullptr && wakeOwner != nullptr;
    }

    //==============================================================================
    /** The device's thread: opens the device, sends each message handed to it,
        and closes the device once asked to. */
    void run()
    {
        const auto opened = midiOutOpen (&handle, deviceId, reinterpret_cast<DWORD_PTR> (completion), 0, CALLBACK_EVENT);

        {
            const juce::ScopedLock sl (lock);
            openResult = opened;
            stage = opened == MMSYSERR_NOERROR ? Stage::idle : Stage::ended;
        }

        SetEvent (wakeOwner);

        if (opened != MMSYSERR_NOERROR)
            return;

        for (;;)
        {
            WaitForSingleObject (wakeThread, INFINITE);

            {
                const juce::ScopedLock sl (lock);

                // A message handed over just before the close has no one to
                // report to any more: it is not sent.
                if (closeRequested)
                    break;

                if (stage != Stage::sending)
                    continue;
            }

            const auto result = transmit();

            {
                const juce::ScopedLock sl (lock);
                outcome = result;
                stage = Stage::idle;
            }

            SetEvent (wakeOwner);
        }

        midiOutClose (handle);

        {
            const juce::ScopedLock sl (lock);
            stage = Stage::ended;
        }

        {
            auto& leftBehind = getLeftBehind();
            const juce::ScopedLock sl (leftBehind.lock);
            leftBehind.identifiers.removeString (identifier);
        }

        SetEvent (wakeOwner);
    }

    //==============================================================================
    /** The result of opening, once the thread has it; nothing if it has not by the bound. */
    std::optional<MMRESULT> waitUntilOpen (Clock::duration bound)
    {
        if (waitUntil (Clock::now() + bound, [this] { return stage != Stage::opening; }))
            return {};

        const juce::ScopedLock sl (lock);
        return openResult;
    }

    /** Hands the message to the thread and waits for what became of it, until
        the deadline at most, and ends the wait early if the calling JUCE thread
        is asked to exit. The bytes are copied: the driver may still read them
        after this returns. */
    SendResult send (const juce::uint8* bytes, int numBytes, Clock::time_point deadline)
    {
        // A message that timed out earlier may still be out.
        if (const auto interrupted = waitUntil (deadline, [this] { return stage != Stage::sending; }))
            return { *interrupted };

        {
            const juce::ScopedLock sl (lock);

            if (stage != Stage::idle)
                return { SendResult::Status::failed };

            message.assign (bytes, bytes + numBytes);
            outcome.reset();
            stage = Stage::sending;
        }

        SetEvent (wakeThread);

        if (const auto interrupted = waitUntil (deadline, [this] { return outcome.has_value(); }))
        {
            if (*interrupted == SendResult::Status::timedOut)
                logProblem (identifier, "a message of " + juce::String (numBytes) + " bytes was not sent within "
                                            + juce::String (std::chrono::duration_cast<std::chrono::milliseconds> (getSendBound (numBytes)).count())
                                            + " ms; giving up on the device");

            return { *interrupted };
        }

        const juce::ScopedLock sl (lock);
        return *outcome;
    }

    /** Asks the thread to close the device and end. True once it has ended;
        false at once while a message is out (a stuck driver must not hold up
        the caller), or when it has not ended within the bound. */
    bool close (Clock::duration bound)
    {
        auto sending = false;

        {
            const juce::ScopedLock sl (lock);
            closeRequested = true;
            sending = stage == Stage::sending;
        }

        SetEvent (wakeThread);

        return ! sending && ! waitUntil (Clock::now() + bound, [this] { return stage == Stage::ended; });
    }

private:
    //==============================================================================
    enum class Stage
    {
        opening,
        idle,
        sending,    ///< from the hand-over of a message until its outcome is published
        ended
    };

    /** Waits until the condition, evaluated under the lock, holds (nothing
        returned), the deadline passes (timedOut) or the calling JUCE thread is
        asked to exit (cancelled), looking at the last at least every 10 ms. */
    template <typename Condition>
    std::optional<SendResult::Status> waitUntil (Clock::time_point deadline, Condition condition)
    {
        for (;;)
        {
            {
                const juce::ScopedLock sl (lock);

                if (condition())
                    return {};
            }

            if (juce::Thread::currentThreadShouldExit())
                return SendResult::Status::cancelled;

            const auto now = Clock::now();

            if (now >= deadline)
                return SendResult::Status::timedOut;

            const auto wait = std::chrono::ceil<std::chrono::milliseconds> (std::min<Clock::duration> (deadline - now, exitPollInterval));
            WaitForSingleObject (wakeOwner, static_cast<DWORD> (wait.count()));
        }
    }

    /** Called on the device's thread only, without the lock: the driver may
        take the message inside midiOutLongMsg() or much later, or never. */
    SendResult transmit()
    {
        MIDIHDR header = {};
        header.lpData = reinterpret_cast<LPSTR> (message.data());
        header.dwBufferLength = header.dwBytesRecorded = static_cast<DWORD> (message.size());

        if (const auto result = midiOutPrepareHeader (handle, &header, sizeof (header)); result != MMSYSERR_NOERROR)
            return fail ("midiOutPrepareHeader", result);

        if (const auto result = midiOutLongMsg (handle, &header, sizeof (header)); result != MMSYSERR_NOERROR)
        {
            midiOutUnprepareHeader (handle, &header, sizeof (header));
            return fail ("midiOutLongMsg", result);
        }

        // The driver has accepted the buffer, so the device takes the message
        // from about now (a driver that transmits inside midiOutLongMsg() has
        // even finished): the next message is paced from here.
        const auto handedOverAt = Clock::now();
        auto resetSent = false;

        // The driver sets the flag from its own thread and signals the event.
        while ((static_cast<volatile DWORD&> (header.dwFlags) & MHDR_DONE) == 0)
        {
            // The output has gone while the driver still holds the buffer:
            // a reset hands it back, so that the device can be closed.
            if (! resetSent && isCloseRequested())
            {
                midiOutReset (handle);
                resetSent = true;
            }

            WaitForSingleObject (completion, static_cast<DWORD> (exitPollInterval.count()));
        }

        // Some drivers mark a buffer done a moment before they let go of it.
        auto unprepared = midiOutUnprepareHeader (handle, &header, sizeof (header));

        while (unprepared == MIDIERR_STILLPLAYING)
        {
            WaitForSingleObject (completion, static_cast<DWORD> (exitPollInterval.count()));
            unprepared = midiOutUnprepareHeader (handle, &header, sizeof (header));
        }

        if (unprepared != MMSYSERR_NOERROR)
            return fail ("midiOutUnprepareHeader", unprepared);

        return { SendResult::Status::sent, handedOverAt };
    }

    SendResult fail (const char* call, MMRESULT result) const
    {
        logProblem (identifier, juce::String (call) + " failed: " + describe (result));
        return { SendResult::Status::failed };
    }

    bool isCloseRequested()
    {
        const juce::ScopedLock sl (lock);
        return closeRequested;
    }

    //==============================================================================
    const UINT deviceId;
    const juce::String identifier;

    /** Auto-reset: the driver's completions; a state change for the thread
        (a message handed over, the close); one for the owner (opened, an
        outcome, ended). */
    const HANDLE completion = CreateEventW (nullptr, FALSE, FALSE, nullptr);
    const HANDLE wakeThread = CreateEventW (nullptr, FALSE, FALSE, nullptr);
    const HANDLE wakeOwner = CreateEventW (nullptr, FALSE, FALSE, nullptr);

    // Touched by the device's thread only.
    HMIDIOUT handle = nullptr;

    // Guarded by the lock, which is held only to read or change them; the
    // message belongs to the thread while a send is out.
    juce::CriticalSection lock;
    Stage stage = Stage::opening;
    bool closeRequested = false;
    MMRESULT openResult = MMSYSERR_NOERROR;
    std::vector<juce::uint8> message;
    std::optional<SendResult> outcome;

    JUCE_DECLARE_NON_COPYABLE (Device)
};

//==============================================================================
std::unique_ptr<WinMmSysexOutput> WinMmSysexOutput::open (const juce::MidiDeviceInfo& info)
{
    const auto& identifier = info.identifier;
    const auto deviceId = findDeviceId (identifier);

    if (! deviceId.has_value())
        return {};

    auto opening = std::make_shared<Device> (*deviceId, identifier);

    if (! opening->hasEvents())
        return {};

    std::thread openingThread ([opening] { opening->run(); });
    const auto opened = opening->waitUntilOpen (openBound);

    if (opened == MMSYSERR_NOERROR)
        return std::unique_ptr<WinMmSysexOutput> (new WinMmSysexOutput (std::move (opening), std::move (openingThread), info));

    if (opened.has_value())
    {
        openingThread.join();
        logProblem (identifier, "midiOutOpen failed: " + describe (*opened));
    }
    else
    {
        // The thread closes the device should the driver ever answer.
        opening->close (Clock::duration::zero());
        openingThread.detach();
        logProblem (identifier, "midiOutOpen did not return within 1 s");
    }

    return {};
}

bool WinMmSysexOutput::isLeftBehind (const juce::MidiDeviceInfo& info)
{
    auto& leftBehind = getLeftBehind();
    const juce::ScopedLock sl (leftBehind.lock);
    return leftBehind.identifiers.contains (info.identifier);
}

WinMmSysexOutput::WinMmSysexOutput (std::shared_ptr<Device> deviceToUse, std::thread threadToUse, const juce::MidiDeviceInfo& infoToUse)
    : device (std::move (deviceToUse)), thread (std::move (threadToUse)), info (infoToUse)
{
}

WinMmSysexOutput::~WinMmSysexOutput()
{
    // Noted before the close, which the thread answers by ending: it takes the
    // note away again as it ends.
    {
        auto& leftBehind = getLeftBehind();
        const juce::ScopedLock sl (leftBehind.lock);
        leftBehind.identifiers.addIfNotAlreadyThere (info.identifier);
    }

    if (device->close (closeBound))
    {
        thread.join();
    }
    else
    {
        thread.detach();
        logProblem (info.identifier, "left behind with a message still out");
    }
}

SendResult WinMmSysexOutput::send (const juce::uint8* bytes, int numBytes)
{
    return device->send (bytes, numBytes, Clock::now() + getSendBound (numBytes));
}

bool WinMmSysexOutput::isPresent()
{
    return MidiDeviceList::containsOutput (info);
}
