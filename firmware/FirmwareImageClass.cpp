#include "firmware/FirmwareImageClass.h"
#include "firmware/EmbeddedFirmwareStream.h"

#include <juce_cryptography/juce_cryptography.h>

FirmwareImageClass::FirmwareImageClass (juce::String nameToUse, juce::String versionToUse, int revisionToUse)
    : streamData (nullptr),
      streamSize (0),
      name (std::move (nameToUse)),
      version (std::move (versionToUse)),
      revision (revisionToUse),
      fixedPacing (0)
{
}

FirmwareImageClass::FirmwareImageClass()
    : FirmwareImageClass ("Kelvane", "1.3.00 Build 89", 0)
{
    streamData = EmbeddedFirmwareStream::data();
    streamSize = static_cast<juce::int64> (EmbeddedFirmwareStream::size());
    streamSha256 = EmbeddedFirmwareStream::sha256();
}

juce::String FirmwareImageClass::getName() const      { return name; }
void FirmwareImageClass::setName (juce::String newName) { name = std::move (newName); }
juce::String FirmwareImageClass::getVersion() const   { return version; }

bool FirmwareImageClass::streamMatchesItsDigest() const
{
    if (streamSha256.isEmpty())
        return true;

    if (streamData == nullptr || streamSize < 0)
        return false;

    return juce::SHA256 (streamData, static_cast<size_t> (streamSize)).toHexString() == streamSha256;
}
