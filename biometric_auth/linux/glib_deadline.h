// Runs GLib asynchronous calls on a private main context with a deadline, so
// a frozen or absent D-Bus peer can never block a caller past its limit and
// calls are safe from any thread (the process-wide default context is never
// iterated).
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

// The result of one asynchronous call, captured by `onAsyncReady`.
struct PendingResult {
  PendingResult() = default;
  PendingResult(const PendingResult&) = delete;
  PendingResult& operator=(const PendingResult&) = delete;
  ~PendingResult();
  GAsyncResult* get() const { return result; }
  GAsyncResult* result = nullptr;
};

// GAsyncReadyCallback that stores the result in the PendingResult* user data.
void onAsyncReady(GObject* source, GAsyncResult* result, gpointer pending);

// A private main context pushed as this thread's default for its lifetime,
// with a timer that cancels `cancellable()` when the limit is reached.
// Construct and destroy on the same thread.
class DeadlineLoop {
 public:
  explicit DeadlineLoop(std::chrono::milliseconds limit);
  DeadlineLoop(const DeadlineLoop&) = delete;
  DeadlineLoop& operator=(const DeadlineLoop&) = delete;
  ~DeadlineLoop();

  // Pass to every asynchronous call made under this deadline.
  GCancellable* cancellable() const { return cancellable_.get(); }
  // Iterates the private context until the call completed. A cancelled call
  // still completes (with G_IO_ERROR_CANCELLED), so this always returns.
  void await(const PendingResult& pending);
  // Iterates until `done` is true or the deadline passed.
  template <typename Predicate>
  void iterateUntil(Predicate done) {
    while (!done() && !expired_) g_main_context_iteration(context_, TRUE);
  }
  // Starts a fresh limit (used when the caller is about to wait for a person).
  void restart(std::chrono::milliseconds limit);
  // Whether the deadline passed and cancelled the work.
  bool expired() const { return expired_; }

 private:
  static gboolean onTimeout(gpointer self);
  void stopTimer();

  GMainContext* context_;
  GObjectPtr<GCancellable> cancellable_;
  GSource* timer_ = nullptr;
  bool expired_ = false;
};

}  // namespace vk::biometric::linux_backend
