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

    void setSendDelayPerByte (std::chrono::nanoseconds delay)
    {
        VirtualMidiService::getInstance().setSendDelayPerByte (delay);
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
