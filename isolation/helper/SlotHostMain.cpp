// pendulum-slot-host: runs one slot's plugin for a container in another process, so that the
// plugin's crash or hang ends this process and never the host's.
//   pendulum-slot-host <region token> <host process id> <plugin file>
#include <juce_audio_processors/juce_audio_processors.h>

#include "isolation/SlotProtocol.h"
#include "isolation/helper/SlotServer.h"
#include "platform/HelperProcess.h"

#include <cstdlib>
#include <memory>

using namespace pendulum;

int main(int argc, char** argv)
{
    if (argc != 4)
        return isolation::exitCodeBadArguments;

    if (!platform::dieWithParent(std::atoi(argv[2])))
        return isolation::exitCodeParentGone;
    platform::endProcessOnFault();

    const auto region = platform::SharedRegion::open(argv[1], isolation::sharedRegionBytes);
    if (region == nullptr)
        return isolation::exitCodeNoRegion;

    auto& shared = *static_cast<isolation::SlotShared*>(region->data());
    if (shared.magic != isolation::protocolMagic || shared.version != isolation::protocolVersion)
        return isolation::exitCodeNoRegion;

    const juce::ScopedJuceInitialiser_GUI framework;
    {
        isolation::SlotServer server(shared, *region, juce::String::fromUTF8(argv[3]));
        server.start();
        juce::MessageManager::getInstance()->runDispatchLoop();
    }
    return 0;
}
