// Where one request ends in the bytes received from the host.
#pragma once

#include <cstddef>
#include <vector>

#include "vdev/VirtualDevice.h"

namespace vdev {

// The lengths a request of this first byte can have, ascending ({64} for an unknown byte).
const std::vector<std::size_t>& RequestLengths(std::uint8_t firstByte);

// True when a stream packet begins at `at`: two consecutive sub-packet headers (0x01, the same
// operate mode, two zero bytes, consecutive sequence numbers) are in the buffer.
bool StreamPacketStartsAt(const Bytes& rx, std::size_t at);

// The length of the first request in rx, which does not begin with a stream packet; 0 while
// more bytes or the quiet gap are needed. `quiet` tells that the line has been quiet for the gap.
//
// A request ends
//  0. at 64 bytes for the MCU loader's erase, write and read frames (B9 with sub-code 02 or 03),
//     whose sub-code fixes their length;
//  1. where a stream packet begins right behind it at one of its family's lengths (a command
//     whose reply the host does not wait for, followed by the next packet);
//  2. when its family has one length only and that many bytes are in;
//  3. at 64 bytes, when 64 is one of its family's lengths and no shorter length could be
//     followed by a stream packet;
//  4. when more bytes are in than its family's longest request and two sub-packets: at that
//     longest length;
//  5. at the quiet gap: everything received (at most the longest length when more is in).
std::size_t RequestEnd(const Bytes& rx, bool quiet);

}  // namespace vdev
