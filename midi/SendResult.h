#pragma once

#include <chrono>
#include <optional>

//==============================================================================
/**
    What became of one message handed to a device interface.
*/
struct SendResult
{
    enum class Status
    {
        sent,       ///< the device has taken the message
        handedOver, ///< the system took the message; whether the device did, the back end cannot tell
        notOpen,    ///< no output was open: nothing was sent
        failed,     ///< the system refused the message or reported an error while sending it
        timedOut,   ///< the device did not take the whole message within the back end's bound
        cancelled   ///< the sending thread was asked to exit while the device still took the message
    };

    SendResult (Status statusToUse = Status::sent,
                std::optional<std::chrono::steady_clock::time_point> handedOverAtToUse = std::nullopt) noexcept
        : status (statusToUse), handedOverAt (handedOverAtToUse)
    {
    }

    Status status;

    /** Where the back end knows it: the moment by which the device had begun to
        take the message (the first bytes were in its output buffer). The next
        message is paced from here. Without it the sender paces from the send's
        own start and end. */
    std::optional<std::chrono::steady_clock::time_point> handedOverAt;

    /** The message went out, taken by the device or at least by the system. */
    bool wasSent() const noexcept   { return status == Status::sent || status == Status::handedOver; }
};
