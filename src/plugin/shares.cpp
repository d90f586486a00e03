#include "shares.h"

#include <tavrin.h>

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace ViveSystem::shares {

namespace {

struct Entry {
    void* object;
    Kind kind;
    const void* driver;
    std::vector<const void*> holders;
};

struct LiveDriver {
    const void* address;
    uint64_t id;
};

struct Binding {
    boundObject* object;
    uint64_t id;
};

struct Record {
    std::mutex mutex;
    std::vector<Entry> entries;
    std::vector<LiveDriver> drivers;
    std::vector<Binding> bindings;
    uint64_t nextId = 1; // 64 bits: never wraps, so an identity is never reused
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

void unbindLocked(Record& r, boundObject* object)
{
    r.bindings.erase(std::remove_if(r.bindings.begin(), r.bindings.end(),
                                    [object](const Binding& b) { return b.object == object; }),
                     r.bindings.end());
}

} // namespace

void adopt(const void* holder, void* object, Kind kind, const void* driver)
{
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.entries.push_back(Entry{object, kind, driver, {holder}});
    if (kind == Kind::Device && driver != nullptr)
        r.drivers.push_back(LiveDriver{driver, r.nextId++});
}

void copyShares(const void* from, const void* to, bool factories)
{
    if (from == to)
        return;
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (Entry& e : r.entries)
        if ((e.kind == Kind::Factory) == factories && holds(e, from) && !holds(e, to))
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

bool holdsDriver(const void* holder, const void* driver)
{
    if (driver == nullptr)
        return false;
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    return std::any_of(r.entries.begin(), r.entries.end(), [&](const Entry& e) {
        return e.kind == Kind::Device && e.driver == driver && holds(e, holder);
    });
}

void bind(boundObject* object, void* driver)
{
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    unbindLocked(r, object);
    const auto live = std::find_if(r.drivers.begin(), r.drivers.end(),
                                   [driver](const LiveDriver& d) { return driver != nullptr && d.address == driver; });
    if (live == r.drivers.end()) {
        object->setBinding(nullptr);
        return;
    }
    object->setBinding(driver);
    r.bindings.push_back(Binding{object, live->id});
}

void unbind(boundObject* object)
{
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    unbindLocked(r, object);
}

void retireDriver(const void* driver)
{
    Record& r = record();
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto live =
        std::find_if(r.drivers.begin(), r.drivers.end(), [driver](const LiveDriver& d) { return d.address == driver; });
    if (live == r.drivers.end())
        return;
    const uint64_t id = live->id;
    r.drivers.erase(live);
    for (auto it = r.bindings.begin(); it != r.bindings.end();) {
        if (it->id == id) {
            it->object->setBinding(nullptr);
            it = r.bindings.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace ViveSystem::shares
