#pragma once

// The checksum that closes a state blob, for tools that make blobs by hand
// (tests, the fuzz target) and must seal them as save_state does.
#include <cstddef>
#include <cstdint>

namespace vexlo {

// Writes into the last 8 bytes of blob[0, size) the checksum of the bytes
// before them; a blob shorter than 8 bytes is left alone.
void seal_blob(std::uint8_t* blob, std::size_t size);

}  // namespace vexlo
