// The host's generic intrusive queue behind plugin/host/queue.h. The header's second
// word holds the last element (the tail), so appending costs O(1); an empty
// queue's header is all zero again, whatever it held before. Every operation
// accepts a null queue (and a null element or callback) and then does nothing
// and returns null. Unlinked elements get a null `next`. Each call is recorded
// in emu::base::journal with the addresses it was given (queue, then element or key).
//
// Searches and traversals walk from the head and call the callback with
// (element, key). A header whose tail word is null while elements are linked
// (a queue built by hand) is repaired by walking to the last element.
#pragma once

#include "plugin/host/queue.h"
