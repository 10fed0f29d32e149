#pragma once

#include <juce_core/juce_core.h>

//==============================================================================
/**
    The record that describes a firmware image: where its SysEx stream lies,
    how long it is, the texts shown to the user and the pacing flag the upload
    reads.

    The record never owns the stream: the embedded stream is constant data that
    lives as long as the process, and is sent in place.

    Threads: written on the message thread before the upload thread exists;
    afterwards the upload thread reads streamData, streamSize, fixedPacing and
    streamSha256, and the message thread reads name, version and revision.
*/
class FirmwareImageClass
{
public:
    /** A record with the given texts and no stream. */
    FirmwareImageClass (juce::String nameToUse, juce::String versionToUse, int revisionToUse);

    /** The record of the image embedded in the program. */
    FirmwareImageClass();

    juce::String getName() const;
    void setName (juce::String newName);
    juce::String getVersion() const;

    /** True when the stream's SHA-256 is the one recorded for it, or when none
        is recorded. Hashing the embedded stream takes some tens of milliseconds;
        it finds a program file damaged since it was built. */
    bool streamMatchesItsDigest() const;

    //==============================================================================
    const juce::uint8* streamData;
    juce::int64 streamSize;
    juce::String name;
    juce::String version;
    juce::int32 revision;
    juce::int32 fixedPacing;

    /** The SHA-256 the stream must have, in lower-case hex; empty for a record
        without one. */
    juce::String streamSha256;

private:
    JUCE_LEAK_DETECTOR (FirmwareImageClass)
};
