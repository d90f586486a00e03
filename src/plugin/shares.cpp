#include "shares.h"

#include <tavrin.h>

#include <algorithm>
#include <mutex>

namespace ViveSystem::shares {

namespace {

struct Entry {
    void* object;
    Kind kind;
    const void* driver;
    std::vector<const void*> holders;
};

struct Record {
    std::mutex mutex;
    std::vector<Entry> entries;
};

Record& record()
{
    // Built on first use, so that it is destroyed only after every static factory or helper that
    // used it (the library's own helper included); a library unload frees it.
    static Record instance;
    return instance;
}

bool holds(const Entry& e, const void* holder)
{
    return std::find(e.holders.begin(), e.holders.end(), holder) != e.holders.end();
}

void dropHolder(Entry& e, const void* holder)
{
    e.holders.erase(std::remove(e.holders.begin(), e.holders.end(), holder), e.holders.end());
}

} // namespace

void adopt(const void* holder, void* object, Kind kind, const void* driver)
{
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.entries.push_back(Entry{object, kind, driver, {holder}});
}

void copyShares(const void* from, const void* to)
{
    if (from == to)
        return;
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (Entry& e : r.entries)
        if (holds(e, from) && !holds(e, to))
            e.holders.push_back(to);
}

std::vector<Held> giveUp(const void* holder, bool factories)
{
    std::vector<Held> orphans;
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto it = r.entries.begin(); it != r.entries.end();) {
        if ((it->kind == Kind::Factory) == factories && holds(*it, holder)) {
            dropHolder(*it, holder);
            if (it->holders.empty()) {
                orphans.push_back(Held{it->object, it->kind});
                it = r.entries.erase(it);
                continue;
            }
        }
        ++it;
    }
    return orphans;
}

void forget(const void* holder)
{
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto it = r.entries.begin(); it != r.entries.end();) {
        if (holds(*it, holder)) {
            dropHolder(*it, holder);
            if (it->holders.empty()) {
                it = r.entries.erase(it); // left alive, no longer the library's to free
                continue;
            }
        }
        ++it;
    }
}

bool isLiveDriver(const void* driver)
{
    if (driver == nullptr)
        return false;
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    return std::any_of(r.entries.begin(), r.entries.end(),
                       [driver](const Entry& e) { return e.kind == Kind::Device && e.driver == driver; });
}

void unbindFrom(const void* driver)
{
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (Entry& e : r.entries) {
        switch (e.kind) {
        case Kind::Command:
            if (auto* c = static_cast<orvane::icmd*>(e.object); c->handle == driver)
                c->attach(nullptr);
            break;
        case Kind::Data:
            if (auto* d = static_cast<orvane::idata*>(e.object); d->handle == driver)
                d->attach(nullptr);
            break;
        case Kind::Status:
            if (auto* s = static_cast<orvane::istat*>(e.object); s->handle == driver)
                s->attach(nullptr);
            break;
        default:
            break;
        }
    }
}

} // namespace ViveSystem::shares
