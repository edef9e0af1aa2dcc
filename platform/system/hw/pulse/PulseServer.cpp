// The sound server through libpulse: one context on a threaded main loop for questions and for
// the subscription to sources coming and going, and a record stream per capture filter.
#include "platform/system/hw/pulse/PulseServer.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>

#include <pulse/pulseaudio.h>

namespace lumacap::hw::pulse {
namespace {

// Every wait for the server is bounded: a server that stops answering must not hang the graph.
constexpr pa_usec_t kAnswerTimeout = 3 * PA_USEC_PER_SEC;

class Locked {
public:
    explicit Locked(pa_threaded_mainloop* loop) : m_loop(loop) { pa_threaded_mainloop_lock(loop); }
    ~Locked() { pa_threaded_mainloop_unlock(m_loop); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

SourceInfo SourceOf(const pa_source_info& i) {
    SourceInfo s;
    s.name = i.name ? i.name : "";
    s.description = i.description && *i.description ? i.description : s.name;
    s.native.sample = SampleFormat::S16LE;
    s.native.rate = i.sample_spec.rate;
    s.native.channels = i.sample_spec.channels;
    s.monitor = i.monitor_of_sink != PA_INVALID_INDEX;
    return s;
}

class PulseServer final : public SoundServer, public std::enable_shared_from_this<PulseServer> {
public:
    ~PulseServer() override {
        if (!m_loop) return;
        if (m_context) {
            Locked lock(m_loop);
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }

    bool Start(const std::string& server, std::string* error) {
        m_loop = pa_threaded_mainloop_new();
        if (!m_loop) return Fail(error, "cannot create libpulse's main loop");
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Lumacap");
        if (!m_context) return Fail(error, "cannot create a libpulse context");
        pa_context_set_state_callback(m_context, &PulseServer::OnContextState, this);
        if (pa_threaded_mainloop_start(m_loop) < 0)
            return Fail(error, "cannot start libpulse's main loop");
        Locked lock(m_loop);
        // No autospawn: a library enumerating devices must not start a sound server.
        if (pa_context_connect(m_context, server.empty() ? nullptr : server.c_str(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return Fail(error, pa_strerror(pa_context_errno(m_context)));
        const bool settled = Wait([this] {
            const pa_context_state_t s = pa_context_get_state(m_context);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        });
        if (!settled) return Fail(error, "the sound server does not answer");
        if (pa_context_get_state(m_context) != PA_CONTEXT_READY)
            return Fail(error, pa_strerror(pa_context_errno(m_context)));
        m_alive = true;
        pa_context_set_subscribe_callback(m_context, &PulseServer::OnSubscription, this);
        if (pa_operation* op =
                pa_context_subscribe(m_context, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr))
            pa_operation_unref(op);
        Rescan();
        return true;
    }

    bool Query(ServerState* state, std::string* error) override {
        struct Answer {
            PulseServer* self;
            ServerState state;
            int pending = 2;
            bool failed = false;
        } answer{this, {}};
        Locked lock(m_loop);
        if (!m_alive) return Fail(error, "the sound server went away");
        pa_operation* info = pa_context_get_server_info(
            m_context,
            [](pa_context*, const pa_server_info* i, void* user) {
                auto* a = static_cast<Answer*>(user);
                if (i && i->default_source_name) a->state.defaultSource = i->default_source_name;
                if (!i) a->failed = true;
                --a->pending;
                pa_threaded_mainloop_signal(a->self->m_loop, 0);
            },
            &answer);
        pa_operation* list = pa_context_get_source_info_list(
            m_context,
            [](pa_context*, const pa_source_info* i, int eol, void* user) {
                auto* a = static_cast<Answer*>(user);
                if (eol == 0 && i) {
                    a->state.sources.push_back(SourceOf(*i));
                    return;
                }
                if (eol < 0) a->failed = true;
                --a->pending;
                pa_threaded_mainloop_signal(a->self->m_loop, 0);
            },
            &answer);
        const bool answered = info && list && Wait([&] { return answer.pending == 0 || !m_alive; });
        // An operation still pending would call back into `answer` after it is gone.
        for (pa_operation* op : {info, list}) {
            if (!op) continue;
            if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
            pa_operation_unref(op);
        }
        if (!answered || answer.pending != 0 || answer.failed)
            return Fail(
                error, m_alive ? "the sound server does not answer" : "the sound server went away");
        *state = std::move(answer.state);
        return true;
    }

    std::unique_ptr<RecordStream> Record(const std::string& source, const StreamFormat& format,
                                         uint32_t fragmentBytes, RecordSink* sink,
                                         std::string* error) override;

    int Watch(Watcher watcher) override {
        std::lock_guard<std::mutex> lock(m_watchMutex);
        m_watchers[m_nextWatch] = std::move(watcher);
        return m_nextWatch++;
    }

    void Unwatch(int token) override {
        std::lock_guard<std::mutex> lock(m_watchMutex);
        m_watchers.erase(token);
    }

    bool Alive() const override { return m_alive; }

    // With the loop locked: waits until `done` holds, the connection is lost or the time-out
    // passes; whether `done` holds.
    template <class Done>
    bool Wait(Done done) {
        struct Timer {
            pa_threaded_mainloop* loop;
            bool expired = false;
        } timer{m_loop};
        pa_time_event* event = pa_context_rttime_new(
            m_context, pa_rtclock_now() + kAnswerTimeout,
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
                auto* t = static_cast<Timer*>(user);
                t->expired = true;
                pa_threaded_mainloop_signal(t->loop, 0);
            },
            &timer);
        while (!done() && !timer.expired) pa_threaded_mainloop_wait(m_loop);
        if (event) pa_threaded_mainloop_get_api(m_loop)->time_free(event);
        return done();
    }

    pa_threaded_mainloop* Loop() const { return m_loop; }
    pa_context* Context() const { return m_context; }

private:
    static bool Fail(std::string* error, const std::string& why) {
        if (error) *error = why;
        return false;
    }

    static void OnContextState(pa_context* c, void* user) {
        auto* self = static_cast<PulseServer*>(user);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) self->m_alive = false;
        pa_threaded_mainloop_signal(self->m_loop, 0);
    }

    static void OnSubscription(pa_context*, pa_subscription_event_type_t type, uint32_t,
                               void* user) {
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && kind != PA_SUBSCRIPTION_EVENT_CHANGE)
            static_cast<PulseServer*>(user)->Rescan();
    }

    // On the loop's thread: lists the sources again and tells the watchers what changed. Events
    // that arrive while a list is under way ask for one more.
    void Rescan() {
        if (m_scanning) {
            m_scanAgain = true;
            return;
        }
        m_scanning = true;
        m_scanned.clear();
        pa_operation* op = pa_context_get_source_info_list(
            m_context,
            [](pa_context*, const pa_source_info* i, int eol, void* user) {
                auto* self = static_cast<PulseServer*>(user);
                if (eol == 0 && i && i->name) {
                    self->m_scanned.insert(i->name);
                    return;
                }
                self->m_scanning = false;
                if (eol > 0) self->Compare();
                if (self->m_scanAgain) {
                    self->m_scanAgain = false;
                    self->Rescan();
                }
            },
            this);
        if (op)
            pa_operation_unref(op);
        else
            m_scanning = false;
    }

    void Compare() {
        std::lock_guard<std::mutex> lock(m_watchMutex);
        for (const std::string& name : m_known)
            if (!m_scanned.count(name))
                for (auto& [token, watcher] : m_watchers) watcher(name, false);
        for (const std::string& name : m_scanned)
            if (!m_known.count(name))
                for (auto& [token, watcher] : m_watchers) watcher(name, true);
        m_known.swap(m_scanned);
    }

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    std::atomic<bool> m_alive{false};
    std::mutex m_watchMutex;
    std::map<int, Watcher> m_watchers;
    int m_nextWatch = 1;
    // The loop thread's own: the sources last seen, and the list under way.
    std::set<std::string> m_known;
    std::set<std::string> m_scanned;
    bool m_scanning = false;
    bool m_scanAgain = false;
};

class PulseRecordStream final : public RecordStream {
public:
    PulseRecordStream(std::shared_ptr<PulseServer> server, RecordSink* sink)
        : m_server(std::move(server)), m_sink(sink) {}

    ~PulseRecordStream() override {
        Locked lock(m_server->Loop());
        m_sink = nullptr;
        if (!m_stream) return;
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream))) pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }

    bool Open(const std::string& source, const StreamFormat& format, uint32_t fragmentBytes,
              std::string* error) {
        pa_sample_spec spec{format.sample == SampleFormat::U8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE,
                            format.rate, format.channels};
        if (!pa_sample_spec_valid(&spec))
            return Fail(error, "the server cannot record that format");
        pa_channel_map map;
        pa_channel_map_init_extend(&map, format.channels, PA_CHANNEL_MAP_WAVEEX);
        Locked lock(m_server->Loop());
        if (!m_server->Alive()) return Fail(error, "the sound server went away");
        m_stream = pa_stream_new(m_server->Context(), "Lumacap capture", &spec, &map);
        if (!m_stream) return Fail(error, pa_strerror(pa_context_errno(m_server->Context())));
        pa_stream_set_state_callback(m_stream, &PulseRecordStream::OnState, this);
        pa_stream_set_read_callback(m_stream, &PulseRecordStream::OnRead, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = fragmentBytes;
        // Held until the graph runs; the data comes in pieces of the size the graph asked for;
        // the stream belongs to this source and ends with it instead of moving elsewhere.
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(m_stream, source.c_str(), &attr, flags) < 0)
            return Fail(error, pa_strerror(pa_context_errno(m_server->Context())));
        m_server->Wait([this] {
            const pa_stream_state_t s = pa_stream_get_state(m_stream);
            return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
        });
        if (pa_stream_get_state(m_stream) != PA_STREAM_READY)
            return Fail(error, m_why.empty() ? "the sound server does not answer" : m_why);
        m_open = true;
        return true;
    }

    bool Cork(bool corked) override {
        struct Done {
            pa_threaded_mainloop* loop;
            bool done = false;
            bool ok = false;
        } done{m_server->Loop()};
        Locked lock(m_server->Loop());
        if (!m_stream || pa_stream_get_state(m_stream) != PA_STREAM_READY) return false;
        pa_operation* op = pa_stream_cork(
            m_stream, corked ? 1 : 0,
            [](pa_stream*, int success, void* user) {
                auto* d = static_cast<Done*>(user);
                d->done = true;
                d->ok = success != 0;
                pa_threaded_mainloop_signal(d->loop, 0);
            },
            &done);
        if (!op) return false;
        m_server->Wait(
            [&] { return done.done || pa_stream_get_state(m_stream) != PA_STREAM_READY; });
        if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
        pa_operation_unref(op);
        return done.done && done.ok;
    }

private:
    static bool Fail(std::string* error, const std::string& why) {
        if (error) *error = why;
        return false;
    }

    static void OnState(pa_stream* s, void* user) {
        auto* self = static_cast<PulseRecordStream*>(user);
        if (pa_stream_get_state(s) == PA_STREAM_FAILED) {
            const int code = pa_context_errno(self->m_server->Context());
            self->m_why = code == PA_ERR_KILLED || code == PA_ERR_NOENTITY
                              ? "its source was removed"
                          : !self->m_server->Alive() || code == PA_ERR_CONNECTIONTERMINATED
                              ? "the sound server went away"
                              : std::string("the sound server ended it: ") + pa_strerror(code);
            // A failure while opening is Open's to report, not the sink's.
            if (self->m_sink && self->m_open && !self->m_ended) {
                self->m_ended = true;
                self->m_sink->OnEnded(self->m_why);
            }
        }
        pa_threaded_mainloop_signal(self->m_server->Loop(), 0);
    }

    static void OnRead(pa_stream* s, size_t, void* user) {
        auto* self = static_cast<PulseRecordStream*>(user);
        while (pa_stream_readable_size(s) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) break;
            if (self->m_sink) self->m_sink->OnCaptured(data, bytes);
            pa_stream_drop(s);
        }
    }

    std::shared_ptr<PulseServer> m_server;
    pa_stream* m_stream = nullptr;
    RecordSink* m_sink;
    bool m_open = false;
    bool m_ended = false;
    std::string m_why;
};

std::unique_ptr<RecordStream> PulseServer::Record(const std::string& source,
                                                  const StreamFormat& format,
                                                  uint32_t fragmentBytes, RecordSink* sink,
                                                  std::string* error) {
    auto stream = std::make_unique<PulseRecordStream>(shared_from_this(), sink);
    if (!stream->Open(source, format, fragmentBytes, error)) return nullptr;
    return stream;
}

}  // namespace

std::shared_ptr<SoundServer> ConnectPulse(const std::string& server, std::string* error) {
    auto connection = std::make_shared<PulseServer>();
    if (!connection->Start(server, error)) return nullptr;
    return connection;
}

}  // namespace lumacap::hw::pulse
