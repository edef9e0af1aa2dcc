// The seam between the microphones and the sound server: the few things asked of it (its sources
// and which is the default, news of sources coming and going, record streams that can be held),
// with the production implementation over libpulse (PulseServer) and a double for tests behind the
// same interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumacap::hw::pulse {

enum class SampleFormat { U8, S16LE };

struct StreamFormat {
    SampleFormat sample = SampleFormat::S16LE;
    uint32_t rate = 44100;
    uint8_t channels = 2;

    uint32_t BytesPerFrame() const { return (sample == SampleFormat::U8 ? 1u : 2u) * channels; }
    bool operator==(const StreamFormat& o) const {
        return sample == o.sample && rate == o.rate && channels == o.channels;
    }
};

struct SourceInfo {
    std::string name;         // the server's name for it: the same for the same source
    std::string description;  // UTF-8, for people
    StreamFormat native;      // what the source itself runs at
    bool monitor = false;     // records what one of the server's outputs plays
};

struct ServerState {
    std::string defaultSource;
    std::vector<SourceInfo> sources;  // in the server's order
};

// A record stream's data and its end arrive on the server's thread: a sink only copies and
// signals, and never calls back into the server or into the media graph from there.
class RecordSink {
public:
    // `data` null: the server skipped `bytes` of the stream, which are to be heard as silence.
    virtual void OnCaptured(const void* data, size_t bytes) = 0;
    // The stream ended for good (its source was removed, the server went away); called once.
    virtual void OnEnded(const std::string& why) = 0;

protected:
    ~RecordSink() = default;
};

class RecordStream {
public:
    // Disconnects; the sink is not called again once this returns.
    virtual ~RecordStream() = default;
    // Holds (true) or resumes (false) capturing, returning once the server has done so; data
    // captured before a hold still reaches the sink before this returns. False when it could not.
    virtual bool Cork(bool corked) = 0;
};

class SoundServer {
public:
    using Watcher = std::function<void(const std::string& source, bool present)>;

    virtual ~SoundServer() = default;
    // False, with the reason, when the server cannot be asked (gone, not answering).
    virtual bool Query(ServerState* state, std::string* error) = 0;
    // A stream from `source` in `format` (the server converts), delivering about `fragmentBytes`
    // at a time, held until Cork(false); null with the reason when the server refuses.
    virtual std::unique_ptr<RecordStream> Record(const std::string& source,
                                                 const StreamFormat& format, uint32_t fragmentBytes,
                                                 RecordSink* sink, std::string* error) = 0;
    // Tells `watcher`, on the server's thread, of each source that appears or goes away. It is
    // not called again once Unwatch(token) returns.
    virtual int Watch(Watcher watcher) = 0;
    virtual void Unwatch(int token) = 0;
    // False once the connection is lost; a new one has to be made.
    virtual bool Alive() const = 0;
};

}  // namespace lumacap::hw::pulse
