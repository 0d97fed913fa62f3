// Table scrambling by password.
//
// A table opened or created with a password keeps its records, memo data
// and index pages scrambled on disk; each passes through CryptBuffer on its
// way to and from the file. The routine is keyed only by the password the
// user gives; the engine stores nothing secret. It is a scrambler that keeps
// casual readers out, not a cipher: byte i of a buffer is combined with
// (i mod 256) OR the password character in turn, so equal buffers scramble
// alike and the same call undoes itself.
//
// Pure and thread-safe.
#pragma once

#include <cstddef>
#include <string_view>

namespace xbase {

// Scrambles (`encrypt` true) or unscrambles `count` bytes of `source` into
// `target`; the two may be the same buffer, but must not overlap otherwise.
// Positions count from 0 at `source` for every record, memo and page. The
// password is 8-bit (Windows-1251) text. Returns 1 after scrambling, -1
// after unscrambling, and 0 for an empty password, when the bytes are
// copied unchanged.
int CryptBuffer(std::string_view password, const void* source, void* target, size_t count,
                bool encrypt);

}  // namespace xbase
