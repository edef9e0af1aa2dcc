// The capture filter of a sound-server microphone: one "Capture" pin recording one source.
#pragma once

#include <memory>

#include "platform/system/hw/LiveSource.h"
#include "platform/system/hw/pulse/CapturePin.h"
#include "platform/system/hw/pulse/SoundServer.h"

namespace lumacap::hw::pulse {

class PulseMicrophoneFilter final : public LiveSourceFilter {
public:
    PulseMicrophoneFilter(std::shared_ptr<SoundServer> server, const SourceInfo& source,
                          HRESULT* phr);
    ~PulseMicrophoneFilter() override;

protected:
    void SetDelivering(bool delivering) override;

private:
    std::shared_ptr<SoundServer> m_server;
    PulseCapturePin m_pin;
    int m_watch = 0;
};

// A new filter for `source`, answering `riid`.
HRESULT CreatePulseMicrophoneFilter(std::shared_ptr<SoundServer> server, const SourceInfo& source,
                                    REFIID riid, void** ppv);

}  // namespace lumacap::hw::pulse
