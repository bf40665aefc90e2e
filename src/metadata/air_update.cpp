#include "metadata/air_update.h"

namespace kestrel {

void tmrAirUpdate(Station&) {}

}  // namespace kestrel
