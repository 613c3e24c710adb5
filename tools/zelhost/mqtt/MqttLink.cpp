#include "MqttLink.h"

#include <mosquitto.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "Outbox.h"

// The library runs on our own thread with its external-loop calls (connect, then poll on its socket
// and read/write/misc): its own loop thread never retries a first refused connect, backs off in
// silence, and ends for good on a TLS or name-lookup error.

namespace zelhost {

namespace {

using TClock = std::chrono::steady_clock;

constexpr int kKeepAliveSeconds = 30;
constexpr int kMaxBackoffSeconds = 60;
constexpr int kConnackTimeoutMs = 10000;
// Messages handed to the library and not yet acknowledged: its own queue has no bound, so ours
// holds the rest while the broker is slow.
constexpr int kMaxInFlight = 64;
// While nothing waits for a free slot, a round (read, send) comes at most this often, so one
// wake-up carries several updates and their acknowledgements: each wake-up of the thread costs
// about as much CPU as the messages of one update themselves.
constexpr auto kGather = std::chrono::milliseconds(100);
// Calls to read per round: a flood of incoming messages cannot keep a round from sending.
constexpr int kMaxReadsPerRound = 1000;

int MsUntil(TClock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1000));
}

}  // namespace

struct TMqttLink::TState {
    TMqttSettings Settings;
    THooks Hooks;
    TOutbox Outbox;
    std::string Where;  // host:port for the notices
    int Wake = -1;      // eventfd: new work or Stop
    std::thread Thread;
    // Set when the thread ends. Stop leaves a thread behind that a connect still blocks (a host
    // that drops packets holds it for minutes), and from then on it calls no hook.
    std::mutex EndLock;
    std::condition_variable Ended;
    bool Finished = false;
    bool Abandoned = false;  // under EndLock, like every hook call

    std::atomic<bool> Stopping{false};
    TClock::time_point StopDeadline;  // written before Stopping is set
    std::mutex FiltersLock;
    std::vector<std::string> Filters;  // only grows

    // The link thread's own.
    mosquitto* Mosq = nullptr;
    int InFlight = 0;
    int Connack = -1;  // none yet
    int LostRc = MOSQ_ERR_SUCCESS;
    size_t Subscribed = 0;  // Filters subscribed on this connection
    std::string LastError;  // the library's last error log line in this attempt

    void WakeUp() {
        uint64_t one = 1;
        // A full counter still wakes the thread; nothing else can fail here.
        if (::write(Wake, &one, sizeof one) < 0) return;
    }
    ~TState() { ::close(Wake); }
    void Notice(const std::string& text) {
        std::lock_guard lock(EndLock);
        try {
            if (Hooks.Notice && !Abandoned) Hooks.Notice(text);
        } catch (...) {
            // The thread outlives a hook that failed: the connection matters more than one notice.
        }
    }
    void Deliver(const mosquitto_message& m) {
        std::lock_guard lock(EndLock);
        try {
            if (Hooks.Message && !Abandoned)
                Hooks.Message(m.topic, std::string(static_cast<const char*>(m.payload),
                                                   static_cast<size_t>(std::max(m.payloadlen, 0))));
        } catch (...) {
            // One message the host could not take must not end the connection.
        }
    }
    static TState* Of(void* self) { return static_cast<TState*>(self); }
    void Run();
    bool Session();
    int Pump(int timeoutMs);
    int ReadAll();
    int Send();
    void SubscribeNew();
    void Finish();
    void WaitStop(int ms);
    std::string Reason(int rc) const;
};

std::string TMqttLink::TState::Reason(int rc) const {
    const int err = errno;
    if (rc == MOSQ_ERR_NO_CONN && LostRc != MOSQ_ERR_SUCCESS) rc = LostRc;
    std::string text = rc == MOSQ_ERR_ERRNO ? std::strerror(err) : mosquitto_strerror(rc);
    if (!LastError.empty()) text += " (" + LastError + ")";
    return text;
}

int TMqttLink::TState::Pump(int timeoutMs) {
    const int sock = mosquitto_socket(Mosq);
    if (sock < 0) return MOSQ_ERR_NO_CONN;
    const short out = mosquitto_want_write(Mosq) ? POLLOUT : 0;
    pollfd fds[2] = {{sock, static_cast<short>(POLLIN | out), 0}, {Wake, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) return MOSQ_ERR_ERRNO;
    if (fds[1].revents & POLLIN) {
        uint64_t count;
        if (::read(Wake, &count, sizeof count) < 0) return MOSQ_ERR_ERRNO;
    }
    if (auto notice = Outbox.TakeNotice()) Notice(*notice);
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP))
        if (int rc = ReadAll(); rc != MOSQ_ERR_SUCCESS) return rc;
    if (mosquitto_want_write(Mosq))
        if (int rc = mosquitto_loop_write(Mosq, 1); rc != MOSQ_ERR_SUCCESS) return rc;
    return mosquitto_loop_misc(Mosq);
}

// The library reads only as many packets per call as it has messages in flight, and one when it
// has none: a burst of commands would take one round each. Its last read, on a drained socket,
// leaves EAGAIN.
int TMqttLink::TState::ReadAll() {
    for (int i = 0; i < kMaxReadsPerRound; ++i) {
        errno = 0;
        if (int rc = mosquitto_loop_read(Mosq, 1); rc != MOSQ_ERR_SUCCESS) return rc;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    }
    return MOSQ_ERR_SUCCESS;
}

int TMqttLink::TState::Send() {
    if (InFlight >= kMaxInFlight || Outbox.Empty()) return MOSQ_ERR_SUCCESS;
    // The library sends each message on its own. Corked, a round's messages leave together: an
    // uncorked send on loopback carries each one through to the broker's socket on this thread.
    struct TCork {
        int Socket;
        void Set(int on) const {
            // Uncorked, the messages still go, one segment each.
            if (::setsockopt(Socket, IPPROTO_TCP, TCP_CORK, &on, sizeof on) < 0) return;
        }
        ~TCork() { Set(0); }
    } cork{mosquitto_socket(Mosq)};
    cork.Set(1);
    while (InFlight < kMaxInFlight) {
        std::optional<TOutMessage> m = Outbox.Take();
        if (!m) break;
        int rc = mosquitto_publish(Mosq, nullptr, m->Topic.c_str(), static_cast<int>(m->Payload.size()),
                                   m->Payload.data(), m->Qos, m->Retain);
        if (rc == MOSQ_ERR_SUCCESS) {
            ++InFlight;
        } else if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO) {
            // A retained message goes again after the next connect; another one is lost with the
            // connection, as it would be if it had been sent.
            return rc;
        } else {
            Notice("mqtt: cannot publish to " + m->Topic + ": " + mosquitto_strerror(rc));
        }
    }
    return MOSQ_ERR_SUCCESS;
}

void TMqttLink::TState::SubscribeNew() {
    std::vector<std::string> filters;
    {
        std::lock_guard lock(FiltersLock);
        filters.assign(Filters.begin() + static_cast<std::ptrdiff_t>(Subscribed), Filters.end());
        Subscribed = Filters.size();
    }
    for (const std::string& filter : filters)
        if (int rc = mosquitto_subscribe(Mosq, nullptr, filter.c_str(), 1); rc != MOSQ_ERR_SUCCESS)
            Notice("mqtt: cannot subscribe to " + filter + ": " + mosquitto_strerror(rc));
}

void TMqttLink::TState::Finish() {
    Outbox.Put({Settings.StatusTopic, "offline", true, 1});
    // At least one round, so even Stop(0) leaves "offline" rather than a stale "online".
    do {
        if (Send() != MOSQ_ERR_SUCCESS) return;
        if (Outbox.Empty() && InFlight == 0) break;
        if (Pump(MsUntil(StopDeadline)) != MOSQ_ERR_SUCCESS) return;
    } while (TClock::now() < StopDeadline);
    mosquitto_disconnect(Mosq);
    while (mosquitto_want_write(Mosq) && TClock::now() < StopDeadline)
        if (Pump(MsUntil(StopDeadline)) != MOSQ_ERR_SUCCESS) return;
}

void TMqttLink::TState::WaitStop(int ms) {
    const auto until = TClock::now() + std::chrono::milliseconds(ms);
    while (!Stopping && TClock::now() < until) {
        pollfd fd{Wake, POLLIN, 0};
        if (::poll(&fd, 1, MsUntil(until)) > 0) {
            uint64_t count;
            if (::read(Wake, &count, sizeof count) < 0) return;
        }
        if (auto notice = Outbox.TakeNotice()) Notice(*notice);
    }
}

// One connection attempt and, if the broker takes it, the whole connection. True when it was
// connected.
bool TMqttLink::TState::Session() {
    InFlight = 0;
    Connack = -1;
    LostRc = MOSQ_ERR_SUCCESS;
    Subscribed = 0;
    LastError.clear();
    Mosq = mosquitto_new(Settings.ClientId.c_str(), true, this);
    if (!Mosq) {
        Notice("mqtt: cannot connect to " + Where + ": " + std::strerror(errno));
        return false;
    }
    struct TDestroy {
        mosquitto*& M;
        ~TDestroy() {
            mosquitto_destroy(M);
            M = nullptr;
        }
    } destroy{Mosq};

    // The callbacks run inside the loop calls, on this thread.
    mosquitto_int_option(Mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(Mosq, [](mosquitto*, void* self, int rc) { Of(self)->Connack = rc; });
    mosquitto_disconnect_callback_set(Mosq, [](mosquitto*, void* self, int rc) { Of(self)->LostRc = rc; });
    mosquitto_publish_callback_set(Mosq, [](mosquitto*, void* self, int) { --Of(self)->InFlight; });
    mosquitto_log_callback_set(Mosq, [](mosquitto*, void* self, int level, const char* text) {
        if (level & MOSQ_LOG_ERR) Of(self)->LastError = text;
    });
    mosquitto_message_callback_set(Mosq, [](mosquitto*, void* self, const mosquitto_message* m) { Of(self)->Deliver(*m); });
    const std::string offline = "offline";
    int rc = mosquitto_will_set(Mosq, Settings.StatusTopic.c_str(), static_cast<int>(offline.size()), offline.data(), 1,
                                true);
    if (rc == MOSQ_ERR_SUCCESS && !Settings.User.empty())
        rc = mosquitto_username_pw_set(Mosq, Settings.User.c_str(),
                                       Settings.Password ? Settings.Password->c_str() : nullptr);
    if (rc == MOSQ_ERR_SUCCESS && Settings.Tls) {
        const char* caFile = Settings.CaFile.empty() ? nullptr : Settings.CaFile.c_str();
        rc = mosquitto_tls_set(Mosq, caFile, caFile ? nullptr : "/etc/ssl/certs", nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_opts_set(Mosq, 1, nullptr, nullptr);
    }
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_connect(Mosq, Settings.Host.c_str(), Settings.Port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        Notice("mqtt: cannot connect to " + Where + ": " + Reason(rc));
        return false;
    }

    const auto connackDeadline = TClock::now() + std::chrono::milliseconds(kConnackTimeoutMs);
    while (Connack < 0) {
        if (Stopping) return false;
        rc = Pump(MsUntil(connackDeadline));
        if (Connack >= 0) break;
        if (rc != MOSQ_ERR_SUCCESS) {
            Notice("mqtt: cannot connect to " + Where + ": " + Reason(rc));
            return false;
        }
        if (TClock::now() >= connackDeadline) {
            Notice("mqtt: cannot connect to " + Where + ": no answer to the connect request");
            return false;
        }
    }
    if (Connack != 0) {
        Notice("mqtt: refused by " + Where + ": " + mosquitto_connack_string(Connack));
        return false;
    }

    // The library formats a log line for every packet while a log callback is set; past the
    // connect, its error lines add nothing to the result codes.
    mosquitto_log_callback_set(Mosq, nullptr);
    LastError.clear();
    Notice("mqtt: connected to " + Where);
    Outbox.Put({Settings.StatusTopic, "online", true, 1});
    Outbox.Requeue(Settings.StatusTopic);
    for (auto round = TClock::now();;) {
        SubscribeNew();
        rc = Send();
        if (Stopping) {
            if (rc == MOSQ_ERR_SUCCESS) Finish();
            return true;
        }
        if (Outbox.Empty()) std::this_thread::sleep_until(round + kGather);
        round = TClock::now();
        if (rc == MOSQ_ERR_SUCCESS) rc = Pump(1000);
        if (rc != MOSQ_ERR_SUCCESS) {
            Notice("mqtt: connection lost: " + Reason(rc));
            return true;
        }
    }
}

void TMqttLink::TState::Run() {
    int backoff = 1;
    while (!Stopping) {
        if (Session()) backoff = 1;
        if (Stopping) break;
        Notice("mqtt: retrying in " + std::to_string(backoff) + " s");
        WaitStop(backoff * 1000);
        backoff = std::min(backoff * 2, kMaxBackoffSeconds);
    }
}

TMqttLink::TMqttLink(TMqttSettings settings, THooks hooks) : FState(std::make_shared<TState>()) {
    TState& s = *FState;
    s.Settings = std::move(settings);
    s.Hooks = std::move(hooks);
    s.Where = (s.Settings.Host.find(':') != std::string::npos ? "[" + s.Settings.Host + "]" : s.Settings.Host) + ":" +
              std::to_string(s.Settings.Port);
    s.Wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.Wake < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    // Not thread-safe: here on the creating thread, paired with the cleanup in the destructor.
    mosquitto_lib_init();
    s.Thread = std::thread([state = FState] {
        // Named, so `top -H` tells the bridge's CPU from the module's.
        pthread_setname_np(pthread_self(), "zelhost-mqtt");
        try {
            state->Run();
        } catch (const std::exception& e) {
            state->Notice(std::string("mqtt: the link stopped: ") + e.what());
        }
        std::lock_guard lock(state->EndLock);
        state->Finished = true;
        state->Ended.notify_all();
    });
}

TMqttLink::~TMqttLink() {
    Stop(0);
    // A thread left behind still uses the library; the process ends it.
    std::lock_guard lock(FState->EndLock);
    if (!FState->Abandoned) mosquitto_lib_cleanup();
}

void TMqttLink::Publish(std::string topic, std::string payload, bool retain, int qos) {
    if (FState->Outbox.Put({std::move(topic), std::move(payload), retain, qos})) FState->WakeUp();
}

void TMqttLink::Clear(std::string topic) {
    if (FState->Outbox.Clear(std::move(topic))) FState->WakeUp();
}

void TMqttLink::Subscribe(std::string filter) {
    {
        std::lock_guard lock(FState->FiltersLock);
        FState->Filters.push_back(std::move(filter));
    }
    FState->WakeUp();
}

void TMqttLink::Stop(int deadlineMs) {
    TState& s = *FState;
    if (!s.Thread.joinable()) return;
    s.StopDeadline = TClock::now() + std::chrono::milliseconds(deadlineMs);
    s.Stopping = true;
    s.WakeUp();
    std::unique_lock lock(s.EndLock);
    // The last round's gathering and the disconnect come on top of the deadline.
    if (s.Ended.wait_for(lock, std::chrono::milliseconds(deadlineMs) + kGather + std::chrono::milliseconds(400),
                         [&] { return s.Finished; })) {
        lock.unlock();
        s.Thread.join();
    } else {
        s.Abandoned = true;
        s.Thread.detach();
    }
}

}  // namespace zelhost
