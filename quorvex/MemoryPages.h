// Asking the operating system for a buffer's pages before it is written.
#pragma once

#include <cstddef>

// Maps every page of [data, data + bytes) for writing in one request, which
// costs much less than a fault per page on first touch. Only a hint: where
// the system cannot, the pages come one fault at a time as before.
void preparePagesForWriting(void* data, std::size_t bytes);
