#include "metadata/now_playing.h"

namespace kestrel {

void NowPlaying::tmrGetMetadata() {}

}  // namespace kestrel
