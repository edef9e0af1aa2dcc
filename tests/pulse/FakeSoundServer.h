// A sound server in the test process, behind the same seam as the real one and driven through the
// same test interface as the real server the tests start: sound written to a source reaches every
// stream of it that is not held, converted to the stream's format, in fragments of its size.
#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "platform/system/hw/pulse/SoundServer.h"
#include "pulse/SoundBackends.h"

namespace lumacap::test {

class FakeSoundServer final : public hw::pulse::SoundServer,
                              public SoundBackend,
                              public std::enable_shared_from_this<FakeSoundServer> {
public:
    // SoundBackend
    std::string Unavailable() override { return ""; }
    std::string Use() override;
    void AddMicrophone(const std::string& name, const std::string& description, int rate,
                       int channels) override;
    void AddOutput(const std::string& sink) override;
    void Remove(const std::string& name) override;
    void SetDefault(const std::string& source) override;
    void Write(const std::string& name, const std::vector<int16_t>& frames) override;
    void GoAway() override;

    // hw::pulse::SoundServer
    bool Query(hw::pulse::ServerState* state, std::string* error) override;
    std::unique_ptr<hw::pulse::RecordStream> Record(const std::string& source,
                                                    const hw::pulse::StreamFormat& format,
                                                    uint32_t fragmentBytes,
                                                    hw::pulse::RecordSink* sink,
                                                    std::string* error) override;
    int Watch(Watcher watcher) override;
    void Unwatch(int token) override;
    bool Alive() const override;

private:
    class Stream;
    void Add(const hw::pulse::SourceInfo& source);
    void EndStreams(const std::string& source, const std::string& why);

    mutable std::mutex m_mutex;
    hw::pulse::ServerState m_state;
    std::vector<Stream*> m_streams;
    std::map<int, Watcher> m_watchers;
    int m_nextWatch = 1;
    bool m_alive = true;
};

}  // namespace lumacap::test
