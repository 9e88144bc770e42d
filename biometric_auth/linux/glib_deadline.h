// Runs GLib asynchronous calls on a private main context with a deadline, so
// a frozen or absent D-Bus peer, or a library call that never completes, can
// never block a caller past its limit, and calls are safe from any thread
// (the process-wide default context is never iterated).
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <memory>

namespace vk::biometric::linux_backend {

// Owns a GObject reference.
struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Owns a GError.
struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

// The result of one asynchronous call, captured by `onAsyncReady`. The
// caller and the call each hold a reference to its storage, so a completion
// that comes after the caller stopped waiting lands in storage that still
// exists, and one that never comes costs a few bytes, never a dangling write.
class PendingResult {
 public:
  PendingResult();
  PendingResult(const PendingResult&) = delete;
  PendingResult& operator=(const PendingResult&) = delete;
  ~PendingResult();

  // The user data to pass with `onAsyncReady`: a reference of the call's own.
  gpointer forCall() const;
  bool done() const;
  // The completed call's result; only when done().
  GAsyncResult* get() const;

 private:
  struct Storage;
  friend void onAsyncReady(GObject* source, GAsyncResult* result, gpointer storage);
  static void release(Storage* storage);

  Storage* storage_;
};

// GAsyncReadyCallback that stores the result; its user data is forCall().
void onAsyncReady(GObject* source, GAsyncResult* result, gpointer storage);

// A private main context pushed as this thread's default for its lifetime,
// with a timer that cancels `cancellable()` at the deadline. Construct and
// destroy on the same thread.
class DeadlineLoop {
 public:
  using Clock = std::chrono::steady_clock;

  explicit DeadlineLoop(Clock::time_point deadline);
  explicit DeadlineLoop(std::chrono::milliseconds limit) : DeadlineLoop(Clock::now() + limit) {}
  // On `context` (referenced) instead of a new one: for work whose later
  // notices must land in a context that outlives this loop.
  DeadlineLoop(GMainContext* context, Clock::time_point deadline);
  DeadlineLoop(const DeadlineLoop&) = delete;
  DeadlineLoop& operator=(const DeadlineLoop&) = delete;
  ~DeadlineLoop();

  // Pass to every asynchronous call made under this deadline.
  GCancellable* cancellable() const { return cancellable_.get(); }
  // Iterates the private context until the call completed or the deadline
  // passed, whatever the library does. True when the call completed.
  bool await(const PendingResult& pending) {
    return iterateUntil([&pending] { return pending.done(); });
  }
  // Iterates until `done` is true or the deadline passed; returns done().
  // At the deadline, work that is already finished is still taken in.
  template <typename Predicate>
  bool iterateUntil(Predicate done) {
    while (!done() && !expired_) g_main_context_iteration(context_, TRUE);
    while (!done() && g_main_context_iteration(context_, FALSE)) {
    }
    return done();
  }
  Clock::time_point deadline() const { return deadline_; }
  // Iterates until `done` is true or `limit` passed, with the deadline
  // standing still meanwhile: for waits that are not exchanges (a person
  // answering a prompt, a notice GDBus queues locally). Returns done().
  template <typename Predicate>
  bool iterateFor(Predicate done, std::chrono::milliseconds limit) {
    const Pause pause(*this, limit);
    while (!done() && !pause.passed()) g_main_context_iteration(context_, TRUE);
    return done();
  }
  // Starts a new deadline with a fresh cancellable on the same context: for
  // the work that releases what an operation holds, which must still be
  // done after the operation's deadline passed.
  void restart(Clock::time_point deadline);
  // Whether the current deadline passed.
  bool expired() const { return expired_; }

 private:
  // Stops the deadline's clock for its lifetime and runs a timer of its own.
  class Pause {
   public:
    Pause(DeadlineLoop& loop, std::chrono::milliseconds limit);
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;
    ~Pause();
    bool passed() const { return passed_; }

   private:
    static gboolean onTimeout(gpointer self);
    DeadlineLoop& loop_;
    Clock::duration left_;
    GSource* timer_;
    bool passed_ = false;
  };

  void setDeadline(Clock::time_point deadline);
  static gboolean onTimeout(gpointer self);
  void stopTimer();

  GMainContext* context_;
  GObjectPtr<GCancellable> cancellable_;
  GSource* timer_ = nullptr;
  Clock::time_point deadline_;
  bool expired_ = false;
};

}  // namespace vk::biometric::linux_backend
