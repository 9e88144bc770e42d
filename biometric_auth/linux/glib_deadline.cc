#include "biometric_auth/linux/glib_deadline.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace vk::biometric::linux_backend {

struct PendingResult::Storage {
  std::atomic<int> references{1};
  std::atomic<GAsyncResult*> result{nullptr};
};

PendingResult::PendingResult() : storage_(new Storage) {}

PendingResult::~PendingResult() { release(storage_); }

gpointer PendingResult::forCall() const {
  storage_->references.fetch_add(1);
  return storage_;
}

bool PendingResult::done() const { return storage_->result.load() != nullptr; }

GAsyncResult* PendingResult::get() const { return storage_->result.load(); }

void PendingResult::release(Storage* storage) {
  if (storage->references.fetch_sub(1) != 1) return;
  if (GAsyncResult* result = storage->result.load()) g_object_unref(result);
  delete storage;
}

void onAsyncReady(GObject* /*source*/, GAsyncResult* result, gpointer storage) {
  auto* cell = static_cast<PendingResult::Storage*>(storage);
  cell->result.store(G_ASYNC_RESULT(g_object_ref(result)));
  PendingResult::release(cell);
}

DeadlineLoop::DeadlineLoop(Clock::time_point deadline)
    : DeadlineLoop(g_main_context_new(), deadline) {
  g_main_context_unref(context_);  // the new context's first reference; the loop took its own
}

DeadlineLoop::DeadlineLoop(GMainContext* context, Clock::time_point deadline)
    : context_(g_main_context_ref(context)), cancellable_(g_cancellable_new()) {
  g_main_context_push_thread_default(context_);
  setDeadline(deadline);
}

DeadlineLoop::~DeadlineLoop() {
  stopTimer();
  // Let sources that finished work queued on this context release their data.
  while (g_main_context_iteration(context_, FALSE)) {
  }
  g_main_context_pop_thread_default(context_);
  g_main_context_unref(context_);
}

void DeadlineLoop::setDeadline(Clock::time_point deadline) {
  stopTimer();
  deadline_ = deadline;
  expired_ = false;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  timer_ = g_timeout_source_new(left > 0 ? static_cast<guint>(left) : 0u);
  g_source_set_callback(timer_, &DeadlineLoop::onTimeout, this, nullptr);
  g_source_attach(timer_, context_);
}

void DeadlineLoop::restart(Clock::time_point deadline) {
  stopTimer();
  cancellable_.reset(g_cancellable_new());
  setDeadline(deadline);
}

DeadlineLoop::Pause::Pause(DeadlineLoop& loop, std::chrono::milliseconds limit)
    : loop_(loop),
      left_(std::max(loop.deadline_ - Clock::now(), Clock::duration{})),
      timer_(g_timeout_source_new(static_cast<guint>(std::max<std::int64_t>(limit.count(), 0)))) {
  loop_.stopTimer();
  g_source_set_callback(timer_, &Pause::onTimeout, this, nullptr);
  g_source_attach(timer_, loop_.context_);
}

DeadlineLoop::Pause::~Pause() {
  g_source_destroy(timer_);
  g_source_unref(timer_);
  // A deadline that had passed stays passed.
  if (!loop_.expired_) loop_.setDeadline(Clock::now() + left_);
}

gboolean DeadlineLoop::Pause::onTimeout(gpointer self) {
  static_cast<Pause*>(self)->passed_ = true;
  return G_SOURCE_REMOVE;
}

gboolean DeadlineLoop::onTimeout(gpointer self) {
  auto* loop = static_cast<DeadlineLoop*>(self);
  loop->expired_ = true;
  g_cancellable_cancel(loop->cancellable_.get());
  g_source_unref(loop->timer_);
  loop->timer_ = nullptr;
  return G_SOURCE_REMOVE;
}

void DeadlineLoop::stopTimer() {
  if (timer_ == nullptr) return;
  g_source_destroy(timer_);
  g_source_unref(timer_);
  timer_ = nullptr;
}

}  // namespace vk::biometric::linux_backend
