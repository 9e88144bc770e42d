#include "biometric_auth/linux/glib_deadline.h"

namespace vk::biometric::linux_backend {

PendingResult::~PendingResult() {
  if (result != nullptr) g_object_unref(result);
}

void onAsyncReady(GObject* /*source*/, GAsyncResult* result, gpointer pending) {
  auto* cell = static_cast<PendingResult*>(pending);
  cell->result = G_ASYNC_RESULT(g_object_ref(result));
}

DeadlineLoop::DeadlineLoop(std::chrono::milliseconds limit)
    : context_(g_main_context_new()), cancellable_(g_cancellable_new()) {
  g_main_context_push_thread_default(context_);
  restart(limit);
}

DeadlineLoop::~DeadlineLoop() {
  stopTimer();
  // Let sources that finished work queued on this context release their data.
  while (g_main_context_iteration(context_, FALSE)) {
  }
  g_main_context_pop_thread_default(context_);
  g_main_context_unref(context_);
}

void DeadlineLoop::await(const PendingResult& pending) {
  while (pending.result == nullptr) g_main_context_iteration(context_, TRUE);
}

void DeadlineLoop::restart(std::chrono::milliseconds limit) {
  stopTimer();
  if (expired_) return;  // a cancelled cancellable stays cancelled
  const auto ms = limit.count() < 0 ? 0 : limit.count();
  timer_ = g_timeout_source_new(static_cast<guint>(ms));
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
