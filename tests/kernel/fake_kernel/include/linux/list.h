/* Fake kernel: the doubly linked list operations the fakes use. */
#ifndef FAKE_LINUX_LIST_H
#define FAKE_LINUX_LIST_H

#include <linux/types.h>

static inline void INIT_LIST_HEAD(struct list_head* list) {
    list->next = list;
    list->prev = list;
}

static inline void list_add_tail(struct list_head* entry, struct list_head* head) {
    entry->prev = head->prev;
    entry->next = head;
    head->prev->next = entry;
    head->prev = entry;
}

static inline void list_del(struct list_head* entry) {
    entry->prev->next = entry->next;
    entry->next->prev = entry->prev;
    entry->next = NULL;
    entry->prev = NULL;
}

static inline bool list_empty(const struct list_head* head) {
    return head->next == head;
}

#endif
