#pragma once

#include <cstddef>
#include <cstdint>

namespace diskmaps {

// The reading rules end a line with CR, optionally followed by LF, while
// Linux terminals, pipes and files end it with LF alone. The console input
// therefore hands every LF that does not follow a CR over as CR LF, and
// passes CR LF unchanged, also when a refill falls between the two.
//
// The translation works in place in the channel's buffer. Received bytes
// not yet translated sit at its end, in buffer[raw_start, size); translated
// bytes are written from buffer[0] on. A lone LF needs one byte more than it
// takes; when the translated bytes have caught up with the untranslated ones,
// its CR is written, the LF is owed to the next refill and the rest stays
// untranslated. `last_was_cr` and `lf_owed` carry across refills.
struct LineEndState {
  bool last_was_cr = false;
  bool lf_owed = false;
};

// Translates as much of buffer[raw_start, size) as fits before the bytes not
// yet taken, owed LF first. Returns the count of translated bytes in
// buffer[0, count); `raw_start` becomes the start of the bytes left (`size`
// when none). At least one byte comes out when an LF is owed or a byte waits
// (an owed LF always has room: it follows at least one taken byte).
std::size_t TranslateLineEnds(std::uint8_t* buffer, std::size_t size,
                              std::size_t& raw_start, LineEndState& state);

}  // namespace diskmaps
