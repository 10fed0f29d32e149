#pragma once

#include <alsa/asoundlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

//==============================================================================
/**
    Turns a MIDI byte stream into sequencer events and back, the way the system
    sequencer library's MIDI event coder does: channel messages keep running
    status, a SysEx message becomes one variable-length event once its 0xF7
    arrives (or in buffer-sized pieces when it does not fit the buffer), real-time
    bytes become events at once.

    One coder belongs to one user of the library, which calls it from one thread
    at a time; it holds no lock.
*/
class MidiEventCodec
{
public:
    explicit MidiEventCodec (std::size_t bufferSize);

    MidiEventCodec (const MidiEventCodec&) = delete;
    MidiEventCodec& operator= (const MidiEventCodec&) = delete;

    /** Changes the size of the SysEx buffer, forgetting any partial message. */
    void resizeBuffer (std::size_t bufferSize);

    void resetEncoder();
    void resetDecoder();

    /** With no status on, the decoder writes every status byte (no running status). */
    void setNoStatus (bool shouldOmitNothing);

    /** Feeds bytes until an event is complete or the bytes run out; returns the
        number of bytes used. The event's type stays SND_SEQ_EVENT_NONE when no
        event was completed. A SysEx event points into this coder's buffer. */
    long encode (const unsigned char* bytes, long count, snd_seq_event_t& event);

    /** Feeds one byte; returns 1 when it completed an event, otherwise 0. */
    int encodeByte (int byte, snd_seq_event_t& event);

    /** Writes the MIDI bytes of an event; returns their number, or -ENOMEM when
        they do not fit and -ENOENT for an event that has no MIDI form. */
    long decode (unsigned char* destination, long space, const snd_seq_event_t& event);

    /** The complete MIDI message an event stands for, status byte included;
        false for an event that has no MIDI form. */
    static bool toMessageBytes (const snd_seq_event_t& event, std::vector<std::uint8_t>& bytes);

private:
    struct StatusDecoding
    {
        int status = 0;           // status byte, 0xF0 for SysEx
        int numDataBytes = 0;     // data bytes after the status (not SysEx)
        unsigned char data[2] {};
    };

    static bool describe (const snd_seq_event_t& event, StatusDecoding& result);
    void fillEvent (snd_seq_event_t& event) const;

    std::vector<unsigned char> buffer;
    std::size_t sysexPieceSize = 0;
    std::size_t numRead = 0;
    int bytesToCome = 0;    // data bytes still missing; for SysEx stays positive
    int messageKind;        // index into the status table
    int lastDecodedStatus;
    bool noStatus = false;
};
