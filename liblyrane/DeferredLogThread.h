// The library's thread that emits the records of every DeferredLogQueue.
//
// Started when the first queue is attached; from then on it empties every
// live queue every couple of milliseconds, queue by queue, each in order. It
// is named "lyrane-log", and blocks all signals, so a host's signal handlers
// never run on it.
//
// It stops, after a last pass, and is joined when the library's static
// objects are destroyed: at exit, or when a host unloads the library with
// dlclose. So it never outlives the library's code, and a host that returns
// from main or calls exit waits for at most one pass. Queues destroyed after
// that still emit their pending records on the destroying thread.
//
// Records are emitted under one lock that only the emitting side takes:
// this thread, drain() and a queue's attach and detach. The posting side
// never takes it.
#ifndef DEFERREDLOGTHREAD_H
#define DEFERREDLOGTHREAD_H

class DeferredLogQueue;

class DeferredLogThread {
  public:
    // Emits, on the calling thread, every record posted to any queue before
    // the call (and any posted while it runs that it reaches); returns once
    // they are emitted. For tests that read what was logged.
    static void drain();

    // For DeferredLogQueue's constructor and destructor. attach starts the
    // thread if it is not running yet and then adds the queue; it throws
    // std::system_error, with the queue not added, if the thread cannot be
    // started. detach emits the queue's pending records on the calling
    // thread and removes the queue before it returns.
    static void attach(DeferredLogQueue& queue);
    static void detach(DeferredLogQueue& queue);

    // Whether the library's thread is running.
    static bool isRunning();

  private:
    class Runner;
};

#endif  // DEFERREDLOGTHREAD_H
