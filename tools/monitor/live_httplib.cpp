// The live view over cpp-httplib (Debian's libcpp-httplib-dev): a small, well-kept server library
// with a thread pool and chunked responses, which is all a page and an event stream need.
#include "live.h"

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace monitor {

namespace {
constexpr auto kFramePeriod = std::chrono::milliseconds(16); // about 60 frames a second
constexpr size_t kKeptEvents = 200;   // a new client gets the recent ones first
constexpr size_t kReplayedEvents = 30;
constexpr size_t kStreamThreads = 64; // each open stream holds one
} // namespace

struct LiveServer::Impl {
    httplib::Server server;
    std::thread thread;
    Snapshot snapshot;
    std::string url;

    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    std::deque<std::pair<unsigned long long, std::string>> events; // (sequence, JSON)
    unsigned long long nextEvent = 1;

    // The next piece of one client's stream: the events since `seen`, then a frame.
    bool sendNext(httplib::DataSink& sink, unsigned long long& seen, bool first)
    {
        std::string out = first ? "retry: 1000\n\n" : "";
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (!first)
                changed.wait_for(lock, kFramePeriod, [&] { return stopping; });
            if (stopping)
                return false;
            for (const auto& [seq, json] : events)
                if (seq > seen)
                    out += "event: device\ndata: " + json + "\n\n";
            seen = nextEvent - 1;
        }
        out += "event: frame\ndata: " + snapshot() + "\n\n";
        return sink.write(out.data(), out.size()); // false once the client has gone
    }
};

LiveServer::LiveServer() : impl_(new Impl) {}

LiveServer::~LiveServer()
{
    stop();
}

bool LiveServer::start(const std::string& where, Snapshot snapshot, std::string& error)
{
    std::string host;
    int port = 0;
    if (!parseHostPort(where, host, port)) {
        error = "--serve takes PORT or HOST:PORT, not '" + where + "'";
        return false;
    }
    Impl& d = *impl_;
    d.snapshot = std::move(snapshot);
    d.server.new_task_queue = [] { return new httplib::ThreadPool(kStreamThreads); };
    d.server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(kLivePage, "text/html; charset=utf-8");
    });
    d.server.Get("/stream", [&d](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        unsigned long long start = 0;
        {
            std::lock_guard<std::mutex> lock(d.mutex);
            start = d.nextEvent > kReplayedEvents ? d.nextEvent - 1 - kReplayedEvents : 0;
        }
        auto seen = std::make_shared<unsigned long long>(start);
        auto first = std::make_shared<bool>(true);
        res.set_chunked_content_provider("text/event-stream", [&d, seen, first](size_t, httplib::DataSink& sink) {
            const bool ok = d.sendNext(sink, *seen, *first);
            *first = false;
            return ok;
        });
    });
    d.server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        const std::string text = std::to_string(res.status) + "\n";
        res.set_content(text, "text/plain");
    });
    const int bound = port == 0 ? d.server.bind_to_any_port(host) : (d.server.bind_to_port(host, port) ? port : -1);
    if (bound < 0) {
        error = "cannot listen on " + host + ":" + std::to_string(port);
        return false;
    }
    const bool v6 = host.find(':') != std::string::npos;
    d.url = "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(bound) + "/";
    d.thread = std::thread([&d] { d.server.listen_after_bind(); });
    return true;
}

std::string LiveServer::url() const
{
    return impl_->url;
}

void LiveServer::publishEvent(const std::string& json)
{
    Impl& d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.events.emplace_back(d.nextEvent++, json);
        while (d.events.size() > kKeptEvents)
            d.events.pop_front();
    }
}

void LiveServer::stop()
{
    Impl& d = *impl_;
    if (!d.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.stopping = true;
    }
    d.changed.notify_all();
    d.server.stop();
    d.thread.join();
}

} // namespace monitor
