// A sound server in the test process, behind the same seam as the real one: the test adds and
// removes sources and writes their sound, which reaches every stream of the source that is not
// held, converted to the stream's format and cut into fragments of the size it asked for.
#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "platform/system/hw/pulse/SoundServer.h"

namespace lumacap::test {

class FakeSoundServer final : public hw::pulse::SoundServer,
                              public std::enable_shared_from_this<FakeSoundServer> {
public:
    void AddSource(const hw::pulse::SourceInfo& source);
    void RemoveSource(const std::string& name);
    void SetDefault(const std::string& name);
    // Interleaved 16-bit frames in the source's own format.
    void Write(const std::string& source, const std::vector<int16_t>& frames);
    // The server goes away: every stream ends and nothing answers any more.
    void GoAway();

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
    void EndStreams(const std::string& source, const std::string& why);
    void Tell(const std::string& source, bool present);

    mutable std::mutex m_mutex;
    hw::pulse::ServerState m_state;
    std::vector<Stream*> m_streams;
    std::map<int, Watcher> m_watchers;
    int m_nextWatch = 1;
    bool m_alive = true;
};

}  // namespace lumacap::test
