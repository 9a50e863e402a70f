// The resend loop's wake-up queue: each `true` pushed asks the loop to deliver the
// chats not yet marked sent. Pushing never blocks; the loop is the only consumer.
// Peers new to the directory wake it at most once per newcomer_wake_pause in all: a
// wake-up held back is taken by the loop once the pause is over (a `false` pushed tells
// the loop that one is held).
#pragma once

#include <chrono>

#include <blockingconcurrentqueue.h>

namespace vandrel {

inline constexpr std::chrono::milliseconds newcomer_wake_pause{1000};

// The running core's queue.
moodycamel::BlockingConcurrentQueue<bool>& resend_queue();

// One wake-up for the resend loop.
void trigger_resend();

// A wake-up for a peer new to the directory, within the pause.
void trigger_resend_for_newcomer();

// For the loop: whether a wake-up is held back.
bool newcomer_wake_held();
// For the loop: true (once) when a held-back wake-up is due now.
bool held_newcomer_wake_due();

}  // namespace vandrel
