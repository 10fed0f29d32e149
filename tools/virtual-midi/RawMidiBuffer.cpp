#include "RawMidiBuffer.h"

#include <algorithm>

namespace
{
    constexpr std::int64_t nsPerSecond = 1'000'000'000;

    /** The length of a message that starts with this status byte; 0 for a
        SysEx message, which runs to its 0xF7. */
    std::size_t getMessageLength (std::uint8_t status)
    {
        if (status == 0xf0)
            return 0;

        if (status < 0xc0 || (status >= 0xe0 && status < 0xf0) || status == 0xf2)
            return 3;

        if (status < 0xe0 || status == 0xf1 || status == 0xf3)
            return 2;

        return 1;
    }
}

RawMidiBuffer::RawMidiBuffer (std::int64_t bytesPerSecond)
    : rate (std::max<std::int64_t> (bytesPerSecond, 1))
{
}

//==============================================================================
std::uint64_t RawMidiBuffer::getDrainedOffset (std::int64_t nowNs) const
{
    const auto reachable = std::min (numWritten, drainLimit);

    if (reachable <= busyStartOffset || nowNs <= busyStartNs)
        return busyStartOffset;

    // Compared before multiplying, so that the product stays below the
    // bytes still to go times 10^9, however long the device has stood still.
    if (nowNs >= getDrainTime (reachable))
        return reachable;

    return busyStartOffset + (std::uint64_t) ((nowNs - busyStartNs) * rate / nsPerSecond);
}

/** When the byte that ends at this offset drains, if the device keeps going. */
std::int64_t RawMidiBuffer::getDrainTime (std::uint64_t offset) const
{
    if (offset > drainLimit)
        return never;

    if (offset <= busyStartOffset)
        return busyStartNs;

    const auto bytes = (std::int64_t) (offset - busyStartOffset);
    return busyStartNs + (bytes * nsPerSecond + rate - 1) / rate;
}

std::size_t RawMidiBuffer::getAvailable (std::int64_t nowNs) const
{
    return size - (std::size_t) (numWritten - getDrainedOffset (nowNs));
}

std::int64_t RawMidiBuffer::getTimeAvailable (std::size_t numBytes, std::int64_t nowNs) const
{
    if (getAvailable (nowNs) >= numBytes)
        return nowNs;

    return getDrainTime (numWritten + std::min (numBytes, size) - size);
}

std::int64_t RawMidiBuffer::getTimeTaken() const
{
    if (numWritten > takeLimit)
        return never;

    return getDrainTime (numWritten);
}

//==============================================================================
std::size_t RawMidiBuffer::write (const std::uint8_t* bytes, std::size_t numBytes, std::int64_t nowNs)
{
    // An idle device starts draining what arrives at once.
    if (getDrainedOffset (nowNs) == numWritten)
    {
        busyStartOffset = numWritten;
        busyStartNs = nowNs;
    }

    const auto numTaken = std::min (numBytes, getAvailable (nowNs));

    for (std::size_t i = 0; i < numTaken;)
    {
        auto* open = pending.empty() || pending.back().complete ? nullptr : &pending.back();

        // The body of a SysEx message goes in as a whole: a firmware upload
        // is almost nothing else.
        if (bytes[i] < 0x80 && open != nullptr && open->message.bytes.front() == 0xf0)
        {
            auto end = i;

            while (end < numTaken && bytes[end] < 0x80)
                ++end;

            open->message.bytes.insert (open->message.bytes.end(), bytes + i, bytes + end);
            numWritten += end - i;
            open->message.endNs = getDrainTime (numWritten);
            i = end;
        }
        else
        {
            appendByte (bytes[i++], nowNs);
        }
    }

    return numTaken;
}

void RawMidiBuffer::appendByte (std::uint8_t byte, std::int64_t nowNs)
{
    const auto offset = numWritten++;
    auto* last = pending.empty() || pending.back().complete ? nullptr : &pending.back();

    if (byte >= 0x80 && byte != 0xf7)
    {
        if (last != nullptr)
            last->complete = true;

        PendingMessage started;
        started.message.startNs = nowNs;
        started.startOffset = offset;
        pending.push_back (std::move (started));
        last = &pending.back();
    }
    else if (last == nullptr)
    {
        return;     // a data byte outside any message: the device ignores it
    }

    auto& message = last->message;
    message.bytes.push_back (byte);
    message.endNs = getDrainTime (offset + 1);

    const auto length = getMessageLength (message.bytes.front());
    last->complete = length == 0 ? byte == 0xf7 : message.bytes.size() == length;
}

//==============================================================================
void RawMidiBuffer::takeReceived (std::int64_t nowNs, const std::function<Then (const Message&)>& received)
{
    while (! pending.empty() && pending.front().complete
           && pending.front().getEndOffset() <= std::min (getDrainedOffset (nowNs), takeLimit))
    {
        const auto endOffset = pending.front().getEndOffset();
        const auto message = std::move (pending.front().message);
        pending.pop_front();

        switch (received (message))
        {
            case Then::carryOn:       break;
            case Then::stopTaking:    takeLimit = std::min (takeLimit, endOffset); break;
            case Then::stopDraining:  drainLimit = std::min (drainLimit, endOffset); break;
        }
    }
}

void RawMidiBuffer::stopDraining (std::int64_t nowNs)
{
    drainLimit = std::min (drainLimit, getDrainedOffset (nowNs));
}

std::vector<RawMidiBuffer::Message> RawMidiBuffer::discard (std::int64_t nowNs)
{
    std::vector<Message> reached;
    const auto drained = getDrainedOffset (nowNs);
    const auto taken = std::min (drained, takeLimit);

    for (auto& next : pending)
    {
        if (next.startOffset >= taken)
            break;

        const auto endOffset = next.getEndOffset();
        auto message = std::move (next.message);

        if (next.complete && endOffset <= taken)
        {
            reached.push_back (std::move (message));
            continue;
        }

        message.bytes.resize (std::min (message.bytes.size(), (std::size_t) (taken - next.startOffset)));
        message.endNs = taken > busyStartOffset ? getDrainTime (taken) : busyStartNs;
        message.cutShort = true;
        reached.push_back (std::move (message));
        break;
    }

    pending.clear();
    numWritten = drained;
    busyStartOffset = drained;
    busyStartNs = nowNs;
    return reached;
}
