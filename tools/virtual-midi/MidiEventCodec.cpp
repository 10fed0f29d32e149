#include "MidiEventCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace
{
    // Message kinds: 0-6 are the channel messages 0x80-0xE0 by their high nibble,
    // 7 is "no message", 8-23 are the system messages 0xF0-0xFF.
    constexpr int channelKinds = 7;
    constexpr int invalidKind = 7;
    constexpr int systemBase = 8;
    constexpr int sysexKind = systemBase;

    struct StatusKind
    {
        snd_seq_event_type_t eventType;
        int numDataBytes;       // -1: not a message of its own
    };

    constexpr StatusKind statusKinds[] =
    {
        { SND_SEQ_EVENT_NOTEOFF,      2 },
        { SND_SEQ_EVENT_NOTEON,       2 },
        { SND_SEQ_EVENT_KEYPRESS,     2 },
        { SND_SEQ_EVENT_CONTROLLER,   2 },
        { SND_SEQ_EVENT_PGMCHANGE,    1 },
        { SND_SEQ_EVENT_CHANPRESS,    1 },
        { SND_SEQ_EVENT_PITCHBEND,    2 },
        { SND_SEQ_EVENT_NONE,        -1 },
        { SND_SEQ_EVENT_SYSEX,        1 },   // 0xF0: data until 0xF7
        { SND_SEQ_EVENT_QFRAME,       1 },   // 0xF1
        { SND_SEQ_EVENT_SONGPOS,      2 },   // 0xF2
        { SND_SEQ_EVENT_SONGSEL,      1 },   // 0xF3
        { SND_SEQ_EVENT_NONE,        -1 },   // 0xF4
        { SND_SEQ_EVENT_NONE,        -1 },   // 0xF5
        { SND_SEQ_EVENT_TUNE_REQUEST, 0 },   // 0xF6
        { SND_SEQ_EVENT_NONE,        -1 },   // 0xF7
        { SND_SEQ_EVENT_CLOCK,        0 },   // 0xF8
        { SND_SEQ_EVENT_NONE,        -1 },   // 0xF9
        { SND_SEQ_EVENT_START,        0 },   // 0xFA
        { SND_SEQ_EVENT_CONTINUE,     0 },   // 0xFB
        { SND_SEQ_EVENT_STOP,         0 },   // 0xFC
        { SND_SEQ_EVENT_NONE,        -1 },   // 0xFD
        { SND_SEQ_EVENT_SENSING,      0 },   // 0xFE
        { SND_SEQ_EVENT_RESET,        0 },   // 0xFF
    };

    constexpr int numStatusKinds = (int) (sizeof (statusKinds) / sizeof (statusKinds[0]));

    void setLength (snd_seq_event_t& event, unsigned char lengthFlag)
    {
        event.flags = (unsigned char) ((event.flags & ~SND_SEQ_EVENT_LENGTH_MASK) | lengthFlag);
    }

    int statusOf (int kind, const snd_seq_event_t& event)
    {
        return kind >= systemBase ? 0xf0 + (kind - systemBase)
                                  : 0x80 | (kind << 4) | (event.data.note.channel & 0x0f);
    }
}

//==============================================================================
MidiEventCodec::MidiEventCodec (std::size_t bufferSize)
    : messageKind (invalidKind), lastDecodedStatus (0xff)
{
    resizeBuffer (bufferSize);
}

void MidiEventCodec::resizeBuffer (std::size_t bufferSize)
{
    // A channel message needs three bytes whatever the size; a SysEx piece holds at least one byte.
    sysexPieceSize = std::max<std::size_t> (bufferSize, 1);
    buffer.assign (std::max<std::size_t> (bufferSize, 3), 0);
    resetEncoder();
}

void MidiEventCodec::resetEncoder()
{
    numRead = 0;
    bytesToCome = 0;
    messageKind = invalidKind;
}

void MidiEventCodec::resetDecoder()
{
    lastDecodedStatus = 0xff;
}

void MidiEventCodec::setNoStatus (bool shouldOmitNothing)
{
    noStatus = shouldOmitNothing;
}

//==============================================================================
long MidiEventCodec::encode (const unsigned char* bytes, long count, snd_seq_event_t& event)
{
    event.type = SND_SEQ_EVENT_NONE;
    long used = 0;

    while (used < count)
        if (encodeByte (bytes[used++], event) > 0)
            break;

    return used;
}

int MidiEventCodec::encodeByte (int byte, snd_seq_event_t& event)
{
    const auto c = byte & 0xff;

    if (c >= 0xf8)
    {
        event.type = statusKinds[systemBase + (c - 0xf0)].eventType;
        setLength (event, SND_SEQ_EVENT_LENGTH_FIXED);
        return event.type != SND_SEQ_EVENT_NONE ? 1 : 0;
    }

    if ((c & 0x80) != 0 && (c != 0xf7 || messageKind != sysexKind))
    {
        buffer[0] = (unsigned char) c;
        messageKind = (c & 0xf0) == 0xf0 ? systemBase + (c & 0x0f) : (c >> 4) & 0x07;
        numRead = 1;
        bytesToCome = statusKinds[messageKind].numDataBytes;
    }
    else if (bytesToCome > 0)
    {
        buffer[numRead++] = (unsigned char) c;

        if (messageKind != sysexKind)
            --bytesToCome;
    }
    else if (messageKind < channelKinds)
    {
        // Running status: a data byte after a complete channel message starts the next one.
        buffer[1] = (unsigned char) c;
        bytesToCome = statusKinds[messageKind].numDataBytes - 1;
        numRead = 2;
    }
    else
    {
        return 0;   // a data byte with no status to belong to
    }

    if (bytesToCome == 0)
    {
        fillEvent (event);

        if (messageKind >= systemBase)
            messageKind = invalidKind;   // system messages have no running status

        return 1;
    }

    if (messageKind == sysexKind && (c == 0xf7 || numRead >= sysexPieceSize))
    {
        event.type = SND_SEQ_EVENT_SYSEX;
        setLength (event, SND_SEQ_EVENT_LENGTH_VARIABLE);
        event.data.ext.len = (unsigned int) numRead;
        event.data.ext.ptr = buffer.data();

        if (c == 0xf7)
            resetEncoder();
        else
            numRead = 0;    // the message goes on in the next event

        return 1;
    }

    return 0;
}

void MidiEventCodec::fillEvent (snd_seq_event_t& event) const
{
    event.type = statusKinds[messageKind].eventType;
    setLength (event, SND_SEQ_EVENT_LENGTH_FIXED);

    const auto channel = (unsigned char) (buffer[0] & 0x0f);

    switch (event.type)
    {
        case SND_SEQ_EVENT_NOTEOFF:
        case SND_SEQ_EVENT_NOTEON:
        case SND_SEQ_EVENT_KEYPRESS:
            event.data.note.channel = channel;
            event.data.note.note = buffer[1];
            event.data.note.velocity = buffer[2];
            break;

        case SND_SEQ_EVENT_CONTROLLER:
            event.data.control.channel = channel;
            event.data.control.param = buffer[1];
            event.data.control.value = buffer[2];
            break;

        case SND_SEQ_EVENT_PGMCHANGE:
        case SND_SEQ_EVENT_CHANPRESS:
            event.data.control.channel = channel;
            event.data.control.value = buffer[1];
            break;

        case SND_SEQ_EVENT_PITCHBEND:
            event.data.control.channel = channel;
            event.data.control.value = ((buffer[2] << 7) | buffer[1]) - 8192;
            break;

        case SND_SEQ_EVENT_QFRAME:
        case SND_SEQ_EVENT_SONGSEL:
            event.data.control.value = buffer[1];
            break;

        case SND_SEQ_EVENT_SONGPOS:
            event.data.control.value = (buffer[2] << 7) | buffer[1];
            break;

        default:
            break;  // the message has no data bytes
    }
}

//==============================================================================
bool MidiEventCodec::describe (const snd_seq_event_t& event, StatusDecoding& result)
{
    if (event.type == SND_SEQ_EVENT_NONE)
        return false;

    int kind = 0;

    while (kind < numStatusKinds && statusKinds[kind].eventType != event.type)
        ++kind;

    if (kind == numStatusKinds)
        return false;

    result.status = statusOf (kind, event);
    result.numDataBytes = statusKinds[kind].numDataBytes;

    const auto value = event.data.control.value;

    switch (event.type)
    {
        case SND_SEQ_EVENT_NOTEOFF:
        case SND_SEQ_EVENT_NOTEON:
        case SND_SEQ_EVENT_KEYPRESS:
            result.data[0] = (unsigned char) (event.data.note.note & 0x7f);
            result.data[1] = (unsigned char) (event.data.note.velocity & 0x7f);
            break;

        case SND_SEQ_EVENT_CONTROLLER:
            result.data[0] = (unsigned char) (event.data.control.param & 0x7f);
            result.data[1] = (unsigned char) (value & 0x7f);
            break;

        case SND_SEQ_EVENT_PGMCHANGE:
        case SND_SEQ_EVENT_CHANPRESS:
        case SND_SEQ_EVENT_QFRAME:
        case SND_SEQ_EVENT_SONGSEL:
            result.data[0] = (unsigned char) (value & 0x7f);
            break;

        case SND_SEQ_EVENT_PITCHBEND:
        {
            const auto bend = value + 8192;
            result.data[0] = (unsigned char) (bend & 0x7f);
            result.data[1] = (unsigned char) ((bend >> 7) & 0x7f);
            break;
        }

        case SND_SEQ_EVENT_SONGPOS:
            result.data[0] = (unsigned char) (value & 0x7f);
            result.data[1] = (unsigned char) ((value >> 7) & 0x7f);
            break;

        default:
            break;  // SysEx and messages without data bytes
    }

    return true;
}

long MidiEventCodec::decode (unsigned char* destination, long space, const snd_seq_event_t& event)
{
    StatusDecoding message;

    if (! describe (event, message))
        return -ENOENT;

    if (message.status == 0xf0)
    {
        const auto length = (long) event.data.ext.len;

        if (space < length)
            return -ENOMEM;

        if ((event.flags & SND_SEQ_EVENT_LENGTH_MASK) != SND_SEQ_EVENT_LENGTH_VARIABLE
            && (event.flags & SND_SEQ_EVENT_LENGTH_MASK) != SND_SEQ_EVENT_LENGTH_FIXED)
            return -EINVAL;

        std::memcpy (destination, event.data.ext.ptr, (std::size_t) length);
        return length;
    }

    unsigned char bytes[3];
    long length = 0;

    if ((message.status & 0xf0) == 0xf0 || message.status != lastDecodedStatus || noStatus)
    {
        lastDecodedStatus = message.status;
        bytes[length++] = (unsigned char) message.status;
    }

    for (int i = 0; i < message.numDataBytes; ++i)
        bytes[length++] = message.data[i];

    if (space < length)
        return -ENOMEM;

    std::memcpy (destination, bytes, (std::size_t) length);
    return length;
}

bool MidiEventCodec::toMessageBytes (const snd_seq_event_t& event, std::vector<std::uint8_t>& bytes)
{
    StatusDecoding message;

    if (! describe (event, message))
        return false;

    if (message.status == 0xf0)
    {
        const auto* data = static_cast<const std::uint8_t*> (event.data.ext.ptr);
        bytes.assign (data, data + event.data.ext.len);
        return true;
    }

    bytes.clear();
    bytes.push_back ((std::uint8_t) message.status);
    bytes.insert (bytes.end(), message.data, message.data + message.numDataBytes);
    return true;
}
