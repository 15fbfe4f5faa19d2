#include "emu/services/queue.h"

#include <cstdint>

#include "emu/base/bytes.h"
#include "emu/base/journal.h"

namespace emu::services::queue {
namespace {

void *&next_of(void *elem) {
    return *static_cast<void **>(elem);
}

void *tail_of(queue_hdr *q) {
    if (q->ops_word != nullptr || q->head == nullptr)
        return q->ops_word;
    void *last = q->head;
    while (next_of(last) != nullptr)
        last = next_of(last);
    return last;
}

// Unlinks `elem`, which follows `prev` (null when it is the head).
void unlink(queue_hdr *q, void *prev, void *elem) {
    void *after = next_of(elem);
    if (prev == nullptr)
        q->head = after;
    else
        next_of(prev) = after;
    if (q->ops_word == elem)
        q->ops_word = prev;
    if (q->count > 0)
        --q->count;
    if (q->head == nullptr)
        *q = queue_hdr{};
    next_of(elem) = nullptr;
}

} // namespace

} // namespace emu::services::queue

namespace base = emu::base;
using emu::base::bytes::address;
using emu::services::queue::next_of;

extern "C" void enqueue_tail(queue_hdr *q, void *elem) {
    base::journal::record("enqueue_tail", {address(q), address(elem)});
    if (q == nullptr || elem == nullptr)
        return;
    void *tail = emu::services::queue::tail_of(q);
    next_of(elem) = nullptr;
    if (tail == nullptr)
        q->head = elem;
    else
        next_of(tail) = elem;
    q->ops_word = elem;
    ++q->count;
}

extern "C" void enqueue_head(queue_hdr *q, void *elem) {
    base::journal::record("enqueue_head", {address(q), address(elem)});
    if (q == nullptr || elem == nullptr)
        return;
    q->ops_word = emu::services::queue::tail_of(q);
    next_of(elem) = q->head;
    q->head = elem;
    if (q->ops_word == nullptr)
        q->ops_word = elem;
    ++q->count;
}

extern "C" void *dequeue_head(queue_hdr *q) {
    base::journal::record("dequeue_head", {address(q)});
    if (q == nullptr || q->head == nullptr)
        return nullptr;
    void *first = q->head;
    emu::services::queue::unlink(q, nullptr, first);
    return first;
}

extern "C" void *search_and_dequeue_elem(queue_hdr *q, void *key, queue_cmp_fn cmp) {
    base::journal::record("search_and_dequeue_elem", {address(q), address(key)});
    if (q == nullptr || cmp == nullptr)
        return nullptr;
    void *prev = nullptr;
    for (void *e = q->head; e != nullptr; prev = e, e = next_of(e)) {
        if (cmp(e, key) == 0) {
            emu::services::queue::unlink(q, prev, e);
            return e;
        }
    }
    return nullptr;
}

extern "C" void *queue_traverse(queue_hdr *q, void *key, queue_cmp_fn visit) {
    base::journal::record("queue_traverse", {address(q), address(key)});
    if (q == nullptr || visit == nullptr)
        return nullptr;
    for (void *e = q->head; e != nullptr; e = next_of(e)) {
        if (visit(e, key) != 0)
            return e;
    }
    return nullptr;
}
