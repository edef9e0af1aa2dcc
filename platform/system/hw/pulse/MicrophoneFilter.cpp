// The sound-server microphone's capture filter.
#include "platform/system/hw/pulse/MicrophoneFilter.h"

namespace lumacap::hw::pulse {
namespace {

// The class of the system's audio capture filter, which is what this filter stands for.
// {E30629D2-27E5-11CE-875D-00608CB78066}
constexpr GUID CLSID_AudioRecord = {
    0xE30629D2, 0x27E5, 0x11CE, {0x87, 0x5D, 0x00, 0x60, 0x8C, 0xB7, 0x80, 0x66}};

}  // namespace

PulseMicrophoneFilter::PulseMicrophoneFilter(std::shared_ptr<SoundServer> server,
                                             const SourceInfo& source, HRESULT* phr)
    : LiveSourceFilter(NAME("Sound server microphone"), CLSID_AudioRecord),
      m_server(std::move(server)),
      m_pin(phr, this, m_server, source, [this](bool present) { NotifyPresence(present); }) {
    const std::string name = source.name;
    m_watch = m_server->Watch([this, name](const std::string& source, bool present) {
        if (source == name) m_pin.OnPresence(present);
    });
}

PulseMicrophoneFilter::~PulseMicrophoneFilter() {
    m_server->Unwatch(m_watch);
}

void PulseMicrophoneFilter::SetDelivering(bool delivering) {
    if (!delivering) m_pin.Hold();
}

HRESULT CreatePulseMicrophoneFilter(std::shared_ptr<SoundServer> server, const SourceInfo& source,
                                    REFIID riid, void** ppv) {
    if (!server) return E_POINTER;
    return CreateComInstance<PulseMicrophoneFilter>(nullptr, riid, ppv, std::move(server), source);
}

}  // namespace lumacap::hw::pulse
