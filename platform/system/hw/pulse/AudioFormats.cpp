// Sound-server microphone formats as media types.
#include "platform/system/hw/pulse/AudioFormats.h"

#include <algorithm>

#include <mmreg.h>

namespace lumacap::hw::pulse {

std::vector<StreamFormat> OfferedFormats(const StreamFormat& native) {
    std::vector<StreamFormat> formats;
    StreamFormat own = native;
    own.sample = SampleFormat::S16LE;
    own.channels = std::clamp<uint8_t>(own.channels, 1, 8);
    if (own.rate >= 8000 && own.rate <= 192000) formats.push_back(own);
    for (uint32_t rate : {48000u, 44100u, 32000u, 22050u, 16000u, 11025u, 8000u})
        for (SampleFormat sample : {SampleFormat::S16LE, SampleFormat::U8})
            for (uint8_t channels : {2, 1}) {
                const StreamFormat f{sample, rate, channels};
                if (std::find(formats.begin(), formats.end(), f) == formats.end())
                    formats.push_back(f);
            }
    return formats;
}

void WaveMediaType(const StreamFormat& f, CMediaType* mt) {
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Audio);
    mt->SetSubtype(&MEDIASUBTYPE_PCM);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = f.channels;
    wfx.nSamplesPerSec = f.rate;
    wfx.wBitsPerSample = f.sample == SampleFormat::U8 ? 8 : 16;
    wfx.nBlockAlign = static_cast<WORD>(f.BytesPerFrame());
    wfx.nAvgBytesPerSec = wfx.nBlockAlign * f.rate;
    wfx.cbSize = 0;
    mt->SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof(wfx));
    mt->SetSampleSize(wfx.nBlockAlign);
}

bool StreamFormatOf(const AM_MEDIA_TYPE& mt, StreamFormat* format) {
    if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM ||
        mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < sizeof(WAVEFORMATEX))
        return false;
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    if (wfx->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (wfx->wBitsPerSample != 8 && wfx->wBitsPerSample != 16) return false;
    if (wfx->nChannels < 1 || wfx->nChannels > 8) return false;
    if (wfx->nSamplesPerSec < 1000 || wfx->nSamplesPerSec > 192000) return false;
    if (wfx->nBlockAlign != wfx->wBitsPerSample / 8 * wfx->nChannels) return false;
    format->sample = wfx->wBitsPerSample == 8 ? SampleFormat::U8 : SampleFormat::S16LE;
    format->rate = wfx->nSamplesPerSec;
    format->channels = static_cast<uint8_t>(wfx->nChannels);
    return true;
}

}  // namespace lumacap::hw::pulse
