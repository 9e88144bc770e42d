#include "biometric_auth/linux/glib_deadline.h"

#include <atomic>

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
    : context_(g_main_context_new()), cancellable_(g_cancellable_new()) {
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
