#include "platform/host/scheduler.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <map>
#include <set>
#include <utility>

namespace host {
namespace {

struct Waiter {
    std::function<bool()> ready;
    std::optional<Nanos> deadline;
    bool woken = false;
    bool timedOut = false;
};

struct Timer {
    Nanos at;
    std::uint64_t id;
    std::function<void()> fn;
};

struct State {
    std::condition_variable cv;
    bool realTime = false;
    Nanos virtualNow = 0;
    std::chrono::steady_clock::time_point realStart = std::chrono::steady_clock::now();
    int running = 0;      // participating threads that are not blocked
    bool firing = false;  // a thread is running due timers
    std::set<Waiter*> waiters;
    std::map<std::pair<Nanos, std::uint64_t>, std::function<void()>> timers;
    std::uint64_t nextTimerId = 1;
    std::uint64_t epoch = 0;  // bumped by every reset, so stale timers never fire
};

State& S() {
    static State* state = new State();  // never destroyed: detached threads may outlive main
    return *state;
}

thread_local bool participating = false;

Nanos RealNow(const State& s) {
    auto elapsed = std::chrono::steady_clock::now() - s.realStart;
    return static_cast<Nanos>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

// Marks every waiter whose condition holds (or whose deadline passed) as woken. Lock held.
bool EvaluateWaiters(State& s) {
    bool any = false;
    Nanos now = NowLocked();
    for (Waiter* w : s.waiters) {
        if (w->woken) {
            continue;
        }
        if (w->ready()) {
            w->woken = true;
        } else if (w->deadline && *w->deadline <= now) {
            w->woken = true;
            w->timedOut = true;
        } else {
            continue;
        }
        ++s.running;
        any = true;
    }
    if (any) {
        s.cv.notify_all();
    }
    return any;
}

std::optional<Nanos> NextEvent(const State& s) {
    std::optional<Nanos> next;
    if (!s.timers.empty()) {
        next = s.timers.begin()->first.first;
    }
    for (const Waiter* w : s.waiters) {
        if (!w->woken && w->deadline && (!next || *w->deadline < *next)) {
            next = w->deadline;
        }
    }
    return next;
}

// Runs every timer that is due, without the lock, counting this thread as running meanwhile.
void FireDueTimers(State& s, Guard& lock) {
    s.firing = true;
    ++s.running;
    while (!s.timers.empty() && s.timers.begin()->first.first <= NowLocked()) {
        auto fn = std::move(s.timers.begin()->second);
        s.timers.erase(s.timers.begin());
        std::uint64_t epoch = s.epoch;
        lock.unlock();
        fn();
        lock.lock();
        if (epoch != s.epoch) {
            break;
        }
    }
    --s.running;
    s.firing = false;
    EvaluateWaiters(s);
}

}  // namespace

std::mutex& Mutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

Nanos NowLocked() {
    State& s = S();
    return s.realTime ? RealNow(s) : s.virtualNow;
}

bool RealTimeLocked() { return S().realTime; }

void WakeLocked() {
    State& s = S();
    EvaluateWaiters(s);
    s.cv.notify_all();
}

std::uint64_t ScheduleLocked(Nanos at, std::function<void()> fn) {
    State& s = S();
    std::uint64_t id = s.nextTimerId++;
    s.timers.emplace(std::make_pair(at, id), std::move(fn));
    s.cv.notify_all();
    return id;
}

void CancelLocked(std::uint64_t id) {
    State& s = S();
    for (auto it = s.timers.begin(); it != s.timers.end(); ++it) {
        if (it->first.second == id) {
            s.timers.erase(it);
            return;
        }
    }
}

void ThreadStartingLocked() { ++S().running; }

void EnterStartedThread() { participating = true; }

void ThreadEndedLocked() {
    State& s = S();
    participating = false;
    --s.running;
    EvaluateWaiters(s);
    s.cv.notify_all();
}

void ParticipateLocked() {
    if (!participating) {
        participating = true;
        ++S().running;
    }
}

void ResetClockLocked(bool realTime) {
    State& s = S();
    s.realTime = realTime;
    s.virtualNow = 0;
    s.realStart = std::chrono::steady_clock::now();
    s.timers.clear();
    ++s.epoch;
}

bool BlockUntil(Guard& lock, std::function<bool()> ready, std::optional<Nanos> deadline) {
    State& s = S();
    ParticipateLocked();
    Waiter w{std::move(ready), deadline};
    s.waiters.insert(&w);
    --s.running;
    EvaluateWaiters(s);
    while (!w.woken) {
        if (s.firing) {
            s.cv.wait(lock);
            continue;
        }
        if (s.realTime) {
            if (!s.timers.empty() && s.timers.begin()->first.first <= NowLocked()) {
                FireDueTimers(s, lock);
                continue;
            }
            EvaluateWaiters(s);
            if (w.woken) {
                break;
            }
            std::optional<Nanos> next = NextEvent(s);
            if (next) {
                Nanos now = NowLocked();
                auto delta = std::chrono::nanoseconds(*next > now ? *next - now : 0);
                s.cv.wait_for(lock, delta);
            } else {
                s.cv.wait(lock);
            }
            EvaluateWaiters(s);
            continue;
        }
        if (s.running > 0) {
            s.cv.wait(lock);
            continue;
        }
        // Every participating thread is blocked: move the clock to the next thing that happens.
        std::optional<Nanos> next = NextEvent(s);
        if (!next) {
            s.cv.wait(lock);  // stalled until something outside the stand-in acts
            continue;
        }
        s.virtualNow = std::max(s.virtualNow, *next);
        FireDueTimers(s, lock);
    }
    s.waiters.erase(&w);
    return !w.timedOut;
}

}  // namespace host
