// The in-process sound server of the tests.
#include "pulse/FakeSoundServer.h"

#include <algorithm>

#include "platform/system/hw/pulse/Provider.h"

namespace lumacap::test {

using hw::pulse::SampleFormat;
using hw::pulse::SourceInfo;
using hw::pulse::StreamFormat;

class FakeSoundServer::Stream final : public hw::pulse::RecordStream {
public:
    Stream(std::shared_ptr<FakeSoundServer> server, std::string source, StreamFormat format,
           uint32_t fragment, hw::pulse::RecordSink* sink)
        : server(std::move(server)),
          source(std::move(source)),
          format(format),
          fragment(std::max(fragment, format.BytesPerFrame())),
          sink(sink) {}

    ~Stream() override {
        std::lock_guard<std::mutex> lock(server->m_mutex);
        auto& list = server->m_streams;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }

    bool Cork(bool hold) override {
        std::lock_guard<std::mutex> lock(server->m_mutex);
        if (ended) return false;
        corked = hold;
        return true;
    }

    // Mixes to the stream's channels, picks the nearest frame at the stream's rate and hands
    // out whole fragments: the real server converts with better filters, and to 8-bit as well.
    void Feed(const std::vector<int16_t>& in, uint8_t inChannels, uint32_t inRate) {
        for (size_t i = 0; i + inChannels <= in.size(); i += inChannels, phase += format.rate) {
            for (; phase >= inRate; phase -= inRate)
                for (uint8_t c = 0; c < format.channels; ++c) {
                    int v = in[i + std::min<size_t>(c, inChannels - 1u)];
                    if (format.channels == 1 && inChannels == 2) v = (in[i] + in[i + 1]) / 2;
                    out.push_back(static_cast<uint8_t>(v & 0xFF));
                    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
                }
        }
        size_t sent = 0;
        for (; out.size() - sent >= fragment; sent += fragment)
            sink->OnCaptured(&out[sent], fragment);
        out.erase(out.begin(), out.begin() + static_cast<long>(sent));
    }

    std::shared_ptr<FakeSoundServer> server;
    const std::string source;
    const StreamFormat format;
    const uint32_t fragment;
    hw::pulse::RecordSink* const sink;
    bool corked = true;
    bool ended = false;
    uint64_t phase = 0;
    std::vector<uint8_t> out;
};

std::string FakeSoundServer::Use() {
    hw::pulse::UseServerObject(shared_from_this());
    return "";
}

void FakeSoundServer::Add(const SourceInfo& source) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.sources.push_back(source);
    for (auto& [token, watcher] : m_watchers) watcher(source.name, true);
}

void FakeSoundServer::AddMicrophone(const std::string& name, const std::string& description,
                                    int rate, int channels) {
    Add({name,
         description,
         {SampleFormat::S16LE, static_cast<uint32_t>(rate), static_cast<uint8_t>(channels)},
         false});
}

void FakeSoundServer::AddOutput(const std::string& sink) {
    Add({sink + ".monitor", "Monitor of " + sink, {}, true});
}

void FakeSoundServer::Remove(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& list = m_state.sources;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const SourceInfo& s) { return s.name == name; }),
               list.end());
    EndStreams(name, "its source was removed");
    for (auto& [token, watcher] : m_watchers) watcher(name, false);
}

void FakeSoundServer::SetDefault(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.defaultSource = name;
}

void FakeSoundServer::Write(const std::string& source, const std::vector<int16_t>& frames) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = std::find_if(m_state.sources.begin(), m_state.sources.end(),
                                 [&](const SourceInfo& s) { return s.name == source; });
    if (it == m_state.sources.end() || !m_alive) return;
    for (Stream* s : m_streams)
        if (s->source == source && !s->corked && !s->ended)
            s->Feed(frames, it->native.channels, it->native.rate);
}

void FakeSoundServer::GoAway() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_alive = false;
    EndStreams("", "the sound server went away");
}

bool FakeSoundServer::Query(hw::pulse::ServerState* state, std::string* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_alive) {
        if (error) *error = "the sound server went away";
        return false;
    }
    *state = m_state;
    return true;
}

std::unique_ptr<hw::pulse::RecordStream> FakeSoundServer::Record(const std::string& source,
                                                                 const StreamFormat& format,
                                                                 uint32_t fragmentBytes,
                                                                 hw::pulse::RecordSink* sink,
                                                                 std::string* error) {
    auto stream = std::make_unique<Stream>(shared_from_this(), source, format, fragmentBytes, sink);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (format.sample != SampleFormat::S16LE) {
        if (error) *error = "the double records 16-bit sound only";
        stream->ended = true;
        return nullptr;
    }
    const bool exists = std::any_of(m_state.sources.begin(), m_state.sources.end(),
                                    [&](const SourceInfo& s) { return s.name == source; });
    if (!m_alive || !exists) {
        if (error) *error = m_alive ? "no such source" : "the sound server went away";
        stream->ended = true;
        return nullptr;  // `stream` goes after `lock`, whose mutex its destructor takes
    }
    m_streams.push_back(stream.get());
    return stream;
}

int FakeSoundServer::Watch(Watcher watcher) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_watchers[m_nextWatch] = std::move(watcher);
    return m_nextWatch++;
}

void FakeSoundServer::Unwatch(int token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_watchers.erase(token);
}

bool FakeSoundServer::Alive() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_alive;
}

void FakeSoundServer::EndStreams(const std::string& source, const std::string& why) {
    for (Stream* s : m_streams)
        if ((source.empty() || s->source == source) && !s->ended) {
            s->ended = true;
            s->sink->OnEnded(why);
        }
}

}  // namespace lumacap::test
