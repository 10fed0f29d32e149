#include "VirtualMidi.h"
#include "VirtualMidiService.h"

namespace VirtualMidi
{
    void setOutputPorts (const std::vector<std::string>& names)
    {
        VirtualMidiService::getInstance().setOutputPorts (names);
    }

    void setOpenRefused (const std::string& name, bool refused)
    {
        VirtualMidiService::getInstance().setOpenRefused (name, refused);
    }

    void unplugAfter (const std::string& name, int numMessages, std::optional<std::chrono::milliseconds> backAfter,
                      std::chrono::milliseconds goneAfter)
    {
        VirtualMidiService::getInstance().unplugAfter (name, numMessages, backAfter, goneAfter);
    }

    void setStuckAfter (const std::string& name, int numMessages)
    {
        VirtualMidiService::getInstance().setStuckAfter (name, numMessages);
    }

    void setRawMidiPort (const std::string& name, std::int64_t bytesPerSecond)
    {
        VirtualMidiService::getInstance().setRawMidiPort (name, bytesPerSecond);
    }

    int getNumLostEvents (const std::string& name)
    {
        return VirtualMidiService::getInstance().getNumLostEvents (name);
    }

    bool setCaptureFile (const std::string& path)
    {
        return VirtualMidiService::getInstance().setCaptureFile (path);
    }

    void configureFromEnvironment()
    {
        VirtualMidiService::getInstance().configureFromEnvironment();
    }

    std::vector<Event> getEvents()
    {
        return VirtualMidiService::getInstance().getEvents();
    }

    void clearEvents()
    {
        VirtualMidiService::getInstance().clearEvents();
    }

    int getNumOpenConnections()
    {
        return VirtualMidiService::getInstance().getNumOpenConnections();
    }

    void reset()
    {
        VirtualMidiService::getInstance().reset();
    }
}
