/* The host's generic intrusive queue. A header is three words (first element,
 * a word the queue operations own, element count); an all-zero header is an
 * empty queue. Every element begins with its `next` link. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct queue_hdr {
    void *head;
    void *ops_word; /* the queue operations keep the tail here */
    uint32_t count;
} queue_hdr;

/* The plugin's comparison callback, called with (element, key) from inside
 * the walk; it only reads the two records. search_and_dequeue_elem takes the
 * first element for which it returns 0; queue_traverse stops at the first
 * nonzero. */
typedef int (*queue_cmp_fn)(void *elem, void *key);

/* The plugin calls these on hw_update_req_q and on hold queues from inside
 * its callbacks; none allocates or frees an element, and all of them walk
 * from the head. */
/* Appends / prepends `elem`; the count grows by one. No result. */
void enqueue_tail(queue_hdr *q, void *elem);
void enqueue_head(queue_hdr *q, void *elem);
/* First element unlinked, or null when the queue is empty. */
void *dequeue_head(queue_hdr *q);
/* First element for which cmp returns 0, unlinked; null when none. */
void *search_and_dequeue_elem(queue_hdr *q, void *key, queue_cmp_fn cmp);
/* First element for which visit returns nonzero, left in place; null when none. */
void *queue_traverse(queue_hdr *q, void *key, queue_cmp_fn visit);

#ifdef __cplusplus
}
static_assert(sizeof(queue_hdr) == 12);
#endif
