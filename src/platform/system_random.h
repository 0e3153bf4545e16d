#pragma once

#include <cstddef>

// Bytes from the kernel's random source (getrandom), for what must not be guessed: MIME
// boundaries, proof-of-work salts, keys. Fills `out` with up to `count` bytes and returns how many
// it got. With `wait` false it never blocks, so a source not ready yet (early boot) gives fewer
// bytes and the caller falls back; with `wait` true it waits for the source.
size_t FillSystemRandom(void* out, size_t count, bool wait);
