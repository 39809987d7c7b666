// Replacing a user's file without ever leaving it half-written.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quorvel {

// Writes `bytes` to a new file in the target's folder, flushes and closes it, and only then
// renames it over `path` (a symlink is followed, so the link stays). Any failure removes the
// temporary file, leaves an existing target untouched and gives false. An existing target's
// permission bits carry over; a new file gets the usual 0666 less the umask.
bool write_file_atomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace quorvel
