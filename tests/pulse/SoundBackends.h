// The sound servers the microphone tests run against, behind one interface: the in-process
// double, and a real PulseAudio server the tests start in a private directory with pipe sources
// as microphones. The same tests run against both, so the double stays truthful.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace lumacap::test {

class SoundBackend {
public:
    virtual ~SoundBackend() = default;
    // Why this server cannot exist here (empty when it can).
    virtual std::string Unavailable() = 0;
    // Makes the platform ask this server for microphones; why it cannot, if so.
    virtual std::string Use() = 0;
    virtual void AddMicrophone(const std::string& name, const std::string& description, int rate,
                               int channels) = 0;
    // An output whose monitor source "<sink>.monitor" records what it plays.
    virtual void AddOutput(const std::string& sink) = 0;
    virtual void Remove(const std::string& name) = 0;
    virtual void SetDefault(const std::string& source) = 0;
    // Interleaved 16-bit frames in the microphone's own format.
    virtual void Write(const std::string& name, const std::vector<int16_t>& frames) = 0;
    virtual void GoAway() = 0;
};

// "double" (FakeSoundServer) or "pulseaudio".
std::shared_ptr<SoundBackend> MakeSoundBackend(const std::string& kind);

// Writes a sine into a microphone in real time, 10 ms at a time, until destroyed.
class ToneWriter {
public:
    ToneWriter(SoundBackend& backend, std::string name, int rate, int channels, double hz,
               double amplitude);
    ~ToneWriter();
    void SetAmplitude(double amplitude) { m_amplitude = amplitude; }

private:
    std::atomic<double> m_amplitude;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace lumacap::test
