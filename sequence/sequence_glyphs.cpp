#include "sequence/sequence_glyphs.h"

namespace ruvalda {

std::array<StreamGlyph, 101> stream_glyphs;

}  // namespace ruvalda
