#include "osc.h"

#include "osc_transport.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace monitor {

struct OscSender::Impl {
    std::vector<osc::Receiver*> receivers;
    std::vector<std::string> names;
    double period = 1.0 / 60.0;
    double nextDue = 0.0;
    Format format = Format::Vmc;
    tavrin_space space = kOpenvrSpace;

    std::thread thread;
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    bool pending = false;
    tavrin_frame frame{}; // the frame waiting to be sent
    double frameSeconds = 0.0;
    Figures figures;

    void run()
    {
        tavrin_frame local;
        for (;;) {
            double seconds = 0.0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [this] { return stopping || pending; });
                if (stopping)
                    return;
                local = frame;
                seconds = frameSeconds;
                pending = false;
            }
            unsigned long long failed = 0, sent = 0;
            std::string why;
            if (format == Format::Vmc) {
                const std::vector<VmcPose> poses = vmcPoses(local, space);
                for (osc::Receiver* r : receivers)
                    (osc::sendBundle(r, static_cast<float>(seconds), poses, why) ? sent : failed) += 1;
            } else {
                const std::vector<OscFloats> messages = vrchatMessages(local, space);
                for (osc::Receiver* r : receivers)
                    (osc::sendMessages(r, messages, why) ? sent : failed) += 1;
                sent *= messages.size(); // one datagram a message
            }
            std::lock_guard<std::mutex> lock(mutex);
            ++figures.bundles;
            figures.datagrams += sent;
            figures.failed += failed;
            if (failed > 0)
                figures.lastFailure = why;
        }
    }
};

OscSender::OscSender() : impl_(new Impl) {}

OscSender::~OscSender()
{
    stop();
    for (osc::Receiver* r : impl_->receivers)
        osc::close(r);
}

bool OscSender::available(std::string& why)
{
    return osc::available(why);
}

bool OscSender::addReceiver(const std::string& host, int port, std::string& error)
{
    osc::Receiver* r = osc::open(host, port, error);
    if (r == nullptr)
        return false;
    impl_->receivers.push_back(r);
    impl_->names.push_back(host + ":" + std::to_string(port));
    return true;
}

void OscSender::start(double rate, Format format, const tavrin_space& space)
{
    Impl& d = *impl_;
    if (d.receivers.empty() || d.thread.joinable())
        return;
    d.period = 1.0 / rate;
    d.format = format;
    d.space = space;
    d.thread = std::thread([&d] { d.run(); });
}

void OscSender::offer(const tavrin_frame& frame, double seconds)
{
    Impl& d = *impl_;
    if (!d.thread.joinable() || seconds < d.nextDue)
        return;
    // Due: the next one a period on, or a period from now after a pause (no burst to catch up).
    d.nextDue = seconds - d.nextDue > d.period ? seconds + d.period : d.nextDue + d.period;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.pending)
            ++d.figures.skipped;
        d.frame = frame;
        d.frameSeconds = seconds;
        d.pending = true;
    }
    d.wake.notify_one();
}

void OscSender::stop()
{
    Impl& d = *impl_;
    if (!d.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.stopping = true;
    }
    d.wake.notify_all();
    d.thread.join();
}

OscSender::Figures OscSender::figures() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->figures;
}

std::vector<std::string> OscSender::receivers() const
{
    return impl_->names;
}

} // namespace monitor
