#include "playback/player_watchdog.h"

namespace kestrel {

void tmrCheckMplayerOK(Station&) {}

}  // namespace kestrel
