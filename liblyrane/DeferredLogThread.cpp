#include "DeferredLogThread.h"

#include <log4cxx/level.h>
#include <log4cxx/spi/loggingevent.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "lyrane_detail/DeferredLogQueue.h"

namespace {

// Short enough that a queue holds many intervals of records at one record
// per sample; long enough that an idle thread costs next to nothing.
constexpr std::chrono::milliseconds kPollInterval(2);

// What ps, top and debuggers show for the thread.
const char kThreadName[] = "lyrane-log";

// Constant-initialised with trivial destructors: queues that outlive the
// thread's owner at exit can still detach and emit.
std::mutex emitMutex;
DeferredLogQueue* firstQueue = nullptr;  // under emitMutex
std::atomic<bool> running{false};
std::atomic<bool> retired{false};

// Blocks every signal on the calling thread while it lives.
class SignalsBlocked {
  public:
    SignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

  private:
    sigset_t previous;
};

}  // namespace

// Owns the thread. A function-local static, first built when a queue is
// attached (after the library's loggers): so it is destroyed, and the thread
// joined, before them and before the library's code goes away.
class DeferredLogThread::Runner {
  public:
    Runner() {
        // log4cxx builds its levels on first use and destroys them in the
        // reverse order; built now, they outlive this object.
        for (auto level :
             {log4cxx::Level::getTrace, log4cxx::Level::getDebug, log4cxx::Level::getInfo,
              log4cxx::Level::getWarn, log4cxx::Level::getError, log4cxx::Level::getFatal}) {
            level();
        }
        // The new thread inherits the blocked mask.
        SignalsBlocked blocked;
        thread = std::thread([this] { loop(); });
        pthread_setname_np(thread.native_handle(), kThreadName);
        std::unique_lock<std::mutex> lock(wakeMutex);
        wake.wait(lock, [this] { return threadDataTaken; });
        running.store(true);
    }
    ~Runner() {
        retired.store(true);
        {
            std::lock_guard<std::mutex> lock(wakeMutex);
            stopRequested = true;
        }
        wake.notify_one();
        thread.join();
        running.store(false);
    }
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

  private:
    // log4cxx keeps per-thread data (the thread's name, its diagnostic
    // contexts) in thread-local storage, which it registers with the C
    // library on first use; registering takes the dynamic loader's lock.
    // dlclose holds that lock while it destroys this object and joins the
    // thread, so a thread still to take its data then would wait for ever.
    // It takes it here, before the constructor returns.
    static void takeThreadData() {
        const log4cxx::spi::LoggingEvent event(
            LOG4CXX_STR(""), log4cxx::Level::getTrace(), LOG4CXX_STR(""),
            log4cxx::spi::LocationInfo::getLocationUnavailable());
        log4cxx::LogString context;
        event.getNDC(context);
        event.getMDCKeySet();
    }

    void loop() {
        takeThreadData();
        {
            std::lock_guard<std::mutex> lock(wakeMutex);
            threadDataTaken = true;
        }
        wake.notify_all();
        std::unique_lock<std::mutex> lock(wakeMutex);
        while (!stopRequested) {
            lock.unlock();
            DeferredLogThread::drain();
            lock.lock();
            wake.wait_for(lock, kPollInterval, [this] { return stopRequested; });
        }
        lock.unlock();
        DeferredLogThread::drain();
    }

    std::mutex wakeMutex;
    std::condition_variable wake;
    bool stopRequested = false;    // under wakeMutex
    bool threadDataTaken = false;  // under wakeMutex
    std::thread thread;
};

void DeferredLogThread::drain() {
    std::lock_guard<std::mutex> lock(emitMutex);
    for (DeferredLogQueue* queue = firstQueue; queue != nullptr; queue = queue->nextQueue) {
        queue->emitPending();
    }
}

void DeferredLogThread::attach(DeferredLogQueue& queue) {
    if (!retired.load()) {
        static Runner runner;
    }
    std::lock_guard<std::mutex> lock(emitMutex);
    queue.previousQueue = nullptr;
    queue.nextQueue = firstQueue;
    if (firstQueue != nullptr) {
        firstQueue->previousQueue = &queue;
    }
    firstQueue = &queue;
}

void DeferredLogThread::detach(DeferredLogQueue& queue) {
    std::lock_guard<std::mutex> lock(emitMutex);
    queue.emitPending();
    queue.emitDroppedTail();
    if (queue.previousQueue != nullptr) {
        queue.previousQueue->nextQueue = queue.nextQueue;
    } else {
        firstQueue = queue.nextQueue;
    }
    if (queue.nextQueue != nullptr) {
        queue.nextQueue->previousQueue = queue.previousQueue;
    }
    queue.previousQueue = nullptr;
    queue.nextQueue = nullptr;
}

bool DeferredLogThread::isRunning() {
    return running.load();
}
