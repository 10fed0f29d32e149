#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <vector>

//==============================================================================
/**
    The output buffer of one open raw MIDI device of the stand-in service, and
    the device behind it, which takes the bytes from it at a fixed rate from
    the moment they are in it: 4,096 bytes, the size the kernel gives a raw
    MIDI output unless a program asks for another. A device may stop taking
    bytes while the driver still empties the buffer into its transfers, which
    then never arrive.

    What is written is split into MIDI messages (a SysEx message from 0xF0 to
    0xF7, others by their length; a status byte cuts short a message it
    interrupts). A message counts as received once the device has its last
    byte.

    Times are CLOCK_MONOTONIC nanoseconds, passed in by the caller. Not
    thread-safe: the service calls it under its lock.
*/
class RawMidiBuffer
{
public:
    static constexpr std::size_t size = 4096;
    static constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();

    /** A message as the device received it. */
    struct Message
    {
        std::vector<std::uint8_t> bytes;
        std::int64_t startNs = 0;     ///< when its first byte was written
        std::int64_t endNs = 0;       ///< when the device had its last byte
        bool cutShort = false;        ///< the device has only this much of it
    };

    explicit RawMidiBuffer (std::int64_t bytesPerSecond);

    /** Free bytes at this moment. */
    std::size_t getAvailable (std::int64_t nowNs) const;

    /** The moment at which at least this many bytes are free: nowNs if they
        already are, never if the device has stopped before. */
    std::int64_t getTimeAvailable (std::size_t numBytes, std::int64_t nowNs) const;

    /** The moment at which the device will have every byte written so far:
        never if it stops before. */
    std::int64_t getTimeTaken() const;

    /** Puts as many of the bytes as are free into the buffer; returns how many. */
    std::size_t write (const std::uint8_t* bytes, std::size_t numBytes, std::int64_t nowNs);

    /** What the device does after a message it has taken. */
    enum class Then
    {
        carryOn,
        stopTaking,     ///< it takes no byte more, though the driver still empties the buffer into its transfers
        stopDraining    ///< no byte leaves the buffer any more
    };

    /** Hands over, in order, each message the device has whole by this
        moment, and does after it what the callback says. */
    void takeReceived (std::int64_t nowNs, const std::function<Then (const Message&)>& received);

    /** The device takes no more bytes from this moment on. */
    void stopDraining (std::int64_t nowNs);

    /** Empties the buffer of what has not drained by this moment (call
        takeReceived() first). Returns the messages that the device has, the
        last of them cut short if it has only its beginning. */
    std::vector<Message> discard (std::int64_t nowNs);

private:
    struct PendingMessage
    {
        Message message;
        std::uint64_t startOffset = 0;
        bool complete = false;

        std::uint64_t getEndOffset() const noexcept   { return startOffset + message.bytes.size(); }
    };

    std::uint64_t getDrainedOffset (std::int64_t nowNs) const;
    std::int64_t getDrainTime (std::uint64_t offset) const;
    void appendByte (std::uint8_t byte, std::int64_t nowNs);

    const std::int64_t rate;

    // Offsets count every byte ever written. The device drains without a
    // pause from busyStartNs, when it had taken busyStartOffset bytes, until
    // it has taken them all or reaches the limit of a stopped device.
    std::uint64_t numWritten = 0;
    std::uint64_t busyStartOffset = 0;
    std::int64_t busyStartNs = 0;
    std::uint64_t drainLimit = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t takeLimit = std::numeric_limits<std::uint64_t>::max();

    std::deque<PendingMessage> pending;
};
